#!/usr/bin/env python3
"""sjis-literals.py IN OUT: copies a UTF-8 C++ source with every non-ASCII character of its
plain narrow string literals written as code page 932 bytes in octal escapes, so a compiler
without -fexec-charset=CP932 (clang, emcc) stores the bytes g++ stores with it. u8, u, U and
L literals, comments and everything else stay as they are; a #line keeps the original's name
and line numbers for messages and __FILE__."""
import sys

PREFIXES = {"", "u8", "u", "U", "L"}


def fail(path, line, what):
    sys.exit(f"{path}:{line}: {what}")


def escape_run(run, path, line):
    try:
        data = run.encode("cp932")
    except UnicodeEncodeError as e:
        fail(path, line, f"not in code page 932: {run[e.start:e.end]!r}")
    return "".join(f"\\{b:03o}" for b in data)


def convert(text, path):
    out = []
    i, n, line = 0, len(text), 1
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            out.append(c)
            i += 1
        elif text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(text[i:j])
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(text[i:j])
            line += text.count("\n", i, j)
            i = j
        elif c in "\"'":
            # The literal's prefix is the identifier run just before the quote.
            k = i
            while k > 0 and (text[k - 1].isalnum() or text[k - 1] == "_"):
                k -= 1
            prefix = text[k:i]
            if c == '"' and prefix.endswith("R") and prefix[:-1] in PREFIXES:
                open_paren = text.find("(", i)
                delim = text[i + 1:open_paren]
                end = text.find(")" + delim + '"', open_paren)
                if open_paren < 0 or end < 0:
                    fail(path, line, "unterminated raw string")
                end += len(delim) + 2
                body = text[i:end]
                if prefix == "R" and any(ord(ch) > 127 for ch in body):
                    fail(path, line, "raw narrow string with non-ASCII text")
                out.append(body)
                line += body.count("\n")
                i = end
                continue
            j = i + 1
            run = []
            pieces = []
            while j < n and text[j] != c:
                ch = text[j]
                if ch == "\n":
                    fail(path, line, "unterminated literal")
                if ord(ch) > 127:
                    run.append(ch)
                    j += 1
                    continue
                if run:
                    pieces.append(escape_run("".join(run), path, line))
                    run = []
                if ch == "\\":
                    pieces.append(text[j:j + 2])
                    j += 2
                else:
                    pieces.append(ch)
                    j += 1
            if j >= n:
                fail(path, line, "unterminated literal")
            literal_has_text = bool(run) or any(ord(ch) > 127 for ch in text[i + 1:j])
            if run:
                pieces.append(escape_run("".join(run), path, line))
            narrow = prefix not in ("u8", "u", "U", "L")
            if c == "'" and narrow and literal_has_text:
                fail(path, line, "non-ASCII character literal")
            if narrow and literal_has_text:
                out.append(c + "".join(pieces) + c)
            else:
                out.append(text[i:j + 1])
            i = j + 1
        else:
            # Identifiers whole, so a prefix is never mistaken for the end of a name.
            if c.isalnum() or c == "_":
                j = i
                while j < n and (text[j].isalnum() or text[j] == "_"):
                    j += 1
                out.append(text[i:j])
                i = j
            else:
                out.append(c)
                i += 1
    return "".join(out)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: sjis-literals.py IN OUT")
    src, dst = sys.argv[1], sys.argv[2]
    with open(src, encoding="utf-8") as f:
        text = f.read()
    body = convert(text, src)
    with open(dst, "w", encoding="utf-8") as f:
        f.write(f'#line 1 "{src}"\n')
        f.write(body)


if __name__ == "__main__":
    main()
