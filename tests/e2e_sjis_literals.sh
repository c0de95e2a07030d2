#!/usr/bin/env bash
# The web build compiles the game with clang, which cannot store literals as Shift-JIS; the
# sources go through tools/sjis-literals.py instead. Each game source with non-ASCII text,
# so converted and compiled without -fexec-charset, must give the very object file that g++
# makes of the original with -fexec-charset=CP932.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$root"
checked=0
for f in $(grep -lP '[^\x00-\x7F]' shell/*.cpp world/*.cpp flow/*.cpp text/*.cpp ranking/*.cpp \
             sound/*.cpp); do
  python3 tools/sjis-literals.py "$f" "$work/converted.cpp"
  # Both from standard input under the same name, so only the literals can differ.
  { printf '#line 1 "%s"\n' "$f"; cat "$f"; } |
    g++ -std=c++17 -O0 -I. -finput-charset=UTF-8 -fexec-charset=CP932 -x c++ -c - -o "$work/want.o"
  g++ -std=c++17 -O0 -I. -x c++ -c - -o "$work/got.o" < "$work/converted.cpp"
  cmp -s "$work/want.o" "$work/got.o" || { echo "FAIL: $f compiles to other bytes" >&2; exit 1; }
  checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || { echo "FAIL: no source with Shift-JIS text found" >&2; exit 1; }
# u8 literals stay UTF-8.
printf 'const char *a = u8"ＴＡ";\nconst char *b = "ソ表…";\n' > "$work/t.cpp"
python3 tools/sjis-literals.py "$work/t.cpp" "$work/t2.cpp"
grep -q 'u8"ＴＡ"' "$work/t2.cpp" || { echo "FAIL: a u8 literal was converted" >&2; exit 1; }
grep -qF '"\203\134\225\134\201\143"' "$work/t2.cpp" || { echo "FAIL: ソ表… not as CP932" >&2; exit 1; }
echo "ok: $checked sources give the same objects"
