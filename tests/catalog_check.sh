#!/usr/bin/env bash
# The message catalogs against the sources: every text the player meets (marked in the sources
# with tr, tr_in, console_say or N_) has a translation, neither missing nor fuzzy, in every
# catalog po/*.po; msgfmt --check accepts each; po/tarmik.pot holds every text; and no
# Japanese literal of the game escapes the markers (besides the few that stay Japanese in
# every language, listed below).
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in xgettext msgfmt msgcmp msgcat; do
  command -v "$tool" > /dev/null || { echo "skipped: $tool (gettext) is not installed"; exit 77; }
done
. scripts/po-sources
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

po_sources | xgettext --from-code=UTF-8 --language=C++ "${PO_KEYWORDS[@]}" -o "$tmp/now.pot" -f - \
  2> /dev/null
[ -s "$tmp/now.pot" ] || fail "xgettext found no text in the sources"
n=0
for po in po/*.po; do
  msgfmt --check -o /dev/null "$po" || fail "msgfmt --check refuses $po"
  msgcmp "$po" "$tmp/now.pot" || fail "$po lacks a translation (above); scripts/update-po, then translate"
  n=$((n + 1))
done
[ $n -gt 0 ] || fail "no catalog in po/"
msgcmp --use-untranslated po/tarmik.pot "$tmp/now.pot" || fail "po/tarmik.pot is behind the sources: scripts/update-po"

# Every literal that is not ASCII: a marked text, or one of these, which no language changes.
kept=(
  'ＴＡＲＭＩＫ'           # the game's name: the window's title and the title screen's line
  'ＭＳ ゴシック:lang=ja'  # the font the title line asks fontconfig for
  $'\xef\xbf\xbd'          # the replacement mark of a byte the terminal cannot show
)
msgids() { msgcat --no-wrap "$1" 2> /dev/null | sed -n 's/^msgid "\(.*\)"$/\1/p' | LC_ALL=C sort -u; }
po_sources | xgettext --from-code=UTF-8 --language=C++ -a -o "$tmp/all.pot" -f - 2> /dev/null
printf '%s\n' "${kept[@]}" | LC_ALL=C sort -u > "$tmp/kept"
msgids "$tmp/now.pot" | LC_ALL=C sort -u - "$tmp/kept" > "$tmp/known"
unmarked=$(msgids "$tmp/all.pot" | LC_ALL=C grep -P '[^\x00-\x7F]' | LC_ALL=C comm -23 - "$tmp/known")
[ -z "$unmarked" ] || fail "Japanese texts without a marker, so without a translation: $unmarked"
echo "catalogs: $n checked, $(msgids "$tmp/now.pot" | grep -c .) texts, each translated"
