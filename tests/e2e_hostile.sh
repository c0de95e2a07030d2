# Hostile streams, files and sizes: each gets a clear answer, and the ranking keeps every
# record of games that end together.
. "$(dirname "$0")/e2elib.sh"
SIM=$BUILD_DIR/tools/tarmik-sim
G=$WORK/game
sj() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
cat > "$G/stagefile.txt" <<'STAGES'
1
mato 1  100 0 100  1 1 1  0 0 0  0 0 0  10 0 0
STAGES
cp "$G/stagefile.txt" "$WORK/one-stage.txt"

# Standard input closed: the stage file must not become the menu's input.
st=0
(cd "$G" && ./tarmik <&- > "$WORK/out.txt") || st=$?
[ "$st" = 255 ] || fail "closed input ended with $st"
[ "$(grep -c . "$WORK/out.txt")" = 7 ] || fail "closed input: $(iconv -f CP932 -t UTF-8 "$WORK/out.txt")"

# A stage file that opens but cannot be read is the open error: a folder, a device that
# never ends, a file whose read fails.
open_error="Error: cannot open file( stagefile.txt )"
for what in folder /dev/zero /proc/self/mem; do
  rm -rf "$G/stagefile.txt"
  if [ $what = folder ]; then mkdir "$G/stagefile.txt"; else ln -s $what "$G/stagefile.txt"; fi
  st=0
  (cd "$G" && printf '1\n' | timeout 20 ./tarmik > "$WORK/out.txt") || st=$?
  [ "$st" = 1 ] || fail "stage file as $what ended with $st"
  [ "$(tail -n 1 "$WORK/out.txt")" = "$open_error" ] || fail "stage file as $what: $(tail -n 1 "$WORK/out.txt" | iconv -f CP932 -t UTF-8)"
done
rm -rf "$G/stagefile.txt"

# A stage too large for the memory there is: the game's message and status 255. (The
# sanitizers' allocator cannot run under an address-space limit.)
if ! ldd "$G/tarmik" | grep -q libasan; then
  awk 'BEGIN { n = 300000; print n; for (i = 0; i < n; i++) print "hito 1 0 0 0 1 1 1 0 0 0 0 0 0 10 0 1" }' > "$G/stagefile.txt"
  st=0
  (cd "$G" && ulimit -v 100000 && printf '1\n' | ./tarmik > "$WORK/out.txt" 2> "$WORK/err.txt") || st=$?
  [ "$st" = 255 ] || fail "out of memory ended with $st: $(tail -c 300 "$WORK/err.txt")"
  [ "$(tail -n 1 "$WORK/out.txt")" = "$(sj 'メモリ割り当てエラー')" ] || fail "out of memory: $(tail -n 1 "$WORK/out.txt" | iconv -f CP932 -t UTF-8)"
fi
cp "$WORK/one-stage.txt" "$G/stagefile.txt"

# A whole game through the driver: ten shots into the void, then the time runs out.
cat > "$G/game.sim" <<'SIM'
key s
frame
click left
click left
click left
click left
click left
click left
click left
click left
click left
click left
tick 5
key r
frame
tick 60
SIM

# The console is a pipe that closes early: the listing that r writes into it is lost, the
# game goes on and enters its result.
sj_line() { printf '%d\t\t%d\t%d\t' "$1" "$2" "$3"; sj "$4"; printf '\n'; }
sj_line 500 5 50 'Ｖ２' > "$G/ranking.dat"
st=0
{ (cd "$G" && printf '1\n' | "$SIM" game.sim 2> /dev/null) || echo $? > "$WORK/sim-status"; } | head -c 100 > /dev/null
[ ! -f "$WORK/sim-status" ] || fail "closed console pipe ended the game with $(cat "$WORK/sim-status")"
[ "$(cat "$G/ranking.dat")" = "$(sj_line 500 5 50 'Ｖ２'; sj_line 0 0 0 'ロケット花火')" ] || fail "closed console pipe: ranking $(od -c "$G/ranking.dat" | head -3)"

# Two games end at the same time; each read the ranking when it started: both results stay.
for round in 1 2 3; do
  rm -f "$G/ranking.dat" "$WORK"/in1 "$WORK"/in2 "$WORK"/out1 "$WORK"/out2
  mkfifo "$WORK/in1" "$WORK/in2"
  (cd "$G" && "$SIM" game.sim < "$WORK/in1" > "$WORK/out1" 2> /dev/null) & p1=$!
  (cd "$G" && "$SIM" game.sim < "$WORK/in2" > "$WORK/out2" 2> /dev/null) & p2=$!
  exec 3> "$WORK/in1" 4> "$WORK/in2"
  # The menu shows once the ranking has been read.
  for _ in $(seq 1 100); do
    [ "$(grep -c . "$WORK/out1")" -ge 7 ] && [ "$(grep -c . "$WORK/out2")" -ge 7 ] && break
    sleep 0.1
  done
  printf '1\n' >&3
  printf '1\n' >&4
  exec 3>&- 4>&-
  wait $p1 || fail "round $round: first game ended with $?"
  wait $p2 || fail "round $round: second game ended with $?"
  [ "$(cat "$G/ranking.dat")" = "$(sj_line 0 0 0 'ロケット花火'; sj_line 0 0 0 'ロケット花火')" ] || fail "round $round: ranking $(od -c "$G/ranking.dat" | head -5)"
  [ "$(ls "$G" | grep -c '^ranking')" = 1 ] || fail "round $round: $(ls "$G")"
done
echo "hostile input test passed"
