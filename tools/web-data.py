#!/usr/bin/env python3
"""web-data.py: the page's own copies of the game's data, made at build time.

  web-data.py font FULL.f1b OUT.f1b SOURCE...   the font with only the glyphs the window can
      draw: every single-byte glyph (numbers, letters) and the characters of the narrow string
      literals of SOURCE (the window's texts) or, for a message catalog (.po), of its
      translations; every other slot left empty, so it packs small
  web-data.py worker TEMPLATE OUT FILE...       the service worker, its cache named after the
      contents of FILE... (so any change makes a new cache) and listing their names
"""
import hashlib
import os
import struct
import sys

CELL_BYTES = 32  # a 16 x 16 cell, two bytes a row
SLOTS = 9374


def rle_decode(data):
    out = bytearray()
    i = 0
    while i < len(data):
        n = data[i]
        i += 1
        if n < 0x80:
            out += data[i:i + n + 1]
            i += n + 1
        else:
            out += bytes([data[i]]) * (n - 127)
            i += 1
    return bytes(out)


def rle_encode(data):
    out = bytearray()
    i, n = 0, len(data)

    def repeat(k):
        r = 1
        while k + r < n and r < 128 and data[k + r] == data[k]:
            r += 1
        return r

    while i < n:
        rep = repeat(i)
        if rep >= 2:
            out += bytes([127 + rep, data[i]])
            i += rep
            continue
        start = i
        while i < n and i - start < 128 and (i == start or repeat(i) < 3):
            i += 1
        out.append(i - start - 1)
        out += data[start:i]
    return bytes(out)


def narrow_literals(text):
    """The contents of the plain narrow string literals of a C++ source (escapes of the
    kind the window texts use: none but \\" and \\\\), comments skipped."""
    out = []
    i, n = 0, len(text)
    while i < n:
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            i = n if j < 0 else j + 2
        elif text[i] == "'":
            j = i + 1
            while j < n and text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
        elif text[i] == '"':
            k = i
            while k > 0 and (text[k - 1].isalnum() or text[k - 1] == "_"):
                k -= 1
            prefix = text[k:i]
            j = i + 1
            chars = []
            while j < n and text[j] != '"':
                if text[j] == "\\":
                    chars.append(text[j + 1])
                    j += 2
                else:
                    chars.append(text[j])
                    j += 1
            if prefix == "":
                out.append("".join(chars))
            i = j + 1
        else:
            i += 1
    return out


def translations(text):
    """The msgstr texts of a PO file (as the window draws them: escapes other than \\" and
    \\\\ do not occur there)."""
    out, current = [], None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("msgstr "):
            current = [line[len("msgstr "):]]
            out.append(current)
        elif line.startswith('"') and current is not None:
            current.append(line)
        else:
            current = None
    return ["".join(p[1:-1].replace('\\"', '"').replace("\\\\", "\\") for p in parts)
            for parts in out]


def sjis_slot(b1, b2):
    """The font slot of a two-byte Shift-JIS character, as the game's reader finds it."""
    if b1 >= 0xE0:
        b1 = (b1 + 0xC0) & 0xFF
    if b2 >= 0x80:
        b2 = (b2 + 0xFF) & 0xFF
    if b2 >= 0x9E:
        b1 = (b1 * 2 + 0x120) & 0xFF
        b2 = (b2 + 0x83) & 0xFF
    else:
        b1 = (b1 * 2 + 0x21F) & 0xFF
        b2 = (b2 + 0xE1) & 0xFF
    return 96 * b1 + b2 - 2849


def font(full_path, out_path, sources):
    raw = open(full_path, "rb").read()
    head, glyphs = raw[:4], rle_decode(raw[4:])
    if struct.unpack("<i", head)[0] != 16 or len(glyphs) != SLOTS * CELL_BYTES:
        sys.exit(f"web-data.py: {full_path} is not the game's 16-dot font")
    keep = set(range(0x20, 0x7F))
    for src in sources:
        text = open(src, encoding="utf-8").read()
        for lit in translations(text) if src.endswith(".po") else narrow_literals(text):
            data = lit.encode("cp932")
            i = 0
            while i < len(data):
                if 0x20 <= data[i] <= 0x7E or i + 1 >= len(data):
                    i += 1
                    continue
                keep.add(sjis_slot(data[i], data[i + 1]))
                i += 2
    empty = bytes(CELL_BYTES)
    subset = bytearray(len(glyphs))
    for slot in sorted(keep):
        cell = glyphs[slot * CELL_BYTES:(slot + 1) * CELL_BYTES]
        if cell == empty and slot >= 0x80:
            sys.exit(f"web-data.py: the font has no glyph for slot {slot}")
        subset[slot * CELL_BYTES:(slot + 1) * CELL_BYTES] = cell
    packed = rle_encode(bytes(subset))
    assert rle_decode(packed) == bytes(subset)
    with open(out_path, "wb") as f:
        f.write(head + packed)


def worker(template, out_path, files):
    h = hashlib.sha256()
    names = []
    for f in files:
        name = os.path.basename(f)
        names.append(name)
        h.update(name.encode() + b"\0" + open(f, "rb").read() + b"\0")
    text = open(template, encoding="utf-8").read()
    text = text.replace("@VERSION@", h.hexdigest()[:16])
    text = text.replace("@FILES@", ", ".join(f"'{n}'" for n in names))
    if os.path.exists(out_path) and open(out_path, encoding="utf-8").read() == text:
        return
    with open(out_path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    if len(argv) >= 4 and argv[1] == "font":
        font(argv[2], argv[3], argv[4:])
    elif len(argv) >= 4 and argv[1] == "worker":
        worker(argv[2], argv[3], argv[4:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
