# Every frame of the shipped demo, played by tarmik-sim in a window, hashes as in the stored
# list tests/data/tarmik-demo-frames.txt: changes to how frames are drawn keep every pixel
# (title line included). The list is made again, when the picture changes on purpose, in a
# fresh copy of the game folder (no ranking.dat: the place shown at the end depends on it):
#   tarmik-sim --hash-frames tests/data/tarmik-demo-frames.txt tarmik.demo
. "$(dirname "$0")/e2elib.sh"
SIM=$BUILD_DIR/tools/tarmik-sim
LIST=$(dirname "$0")/data/tarmik-demo-frames.txt
(cd "$WORK/game" && "$SIM" --hash-frames "$WORK/frames.txt" tarmik.demo < /dev/null > /dev/null 2> "$WORK/err.txt") ||
  fail "the demo did not play back: $(tail -n 2 "$WORK/err.txt")"
want=$(wc -l < "$LIST")
got=$(wc -l < "$WORK/frames.txt")
[ "$got" = "$want" ] || fail "$got frames, the list has $want"
differ=$(paste -d' ' "$LIST" "$WORK/frames.txt" | awk '$2 != $4 { n++; if (!first) first = NR } END { print n + 0, first + 0 }')
read -r n first <<< "$differ"
[ "$n" = 0 ] || { cp "$WORK/frames.txt" "$SHOTS/frames.txt"; fail "$n of $want frames differ, the first is frame $first (hashes in $SHOTS/frames.txt)"; }
echo "frames test passed ($want frames)"
