# A game played through the window with xdotool and recorded with --record (moves, a burst of
# fast motion, a hit and the stage clear, the time running out, n, q). Its playback through
# tarmik-sim and through tarmik --playdemo gives the same console bytes, the same state at the
# end and the same ranking line; a changed demo is caught; files that are not demos are
# refused. Then the shipped demo plays back to its recorded end.
. "$(dirname "$0")/e2elib.sh"
SIM=$BUILD_DIR/tools/tarmik-sim
cat > "$WORK/game/stagefile.txt" <<'STAGES'
# a target under the starting eye
1
mato 1  0 0 0  1 1 1  0 0 0  0 0 0  10 0 0
# far away
1
mato 1  100 0 100  1 1 1  0 0 0  0 0 0  10 0 0
STAGES
cp -r "$WORK/game" "$WORK/clean"
DEMO=$WORK/game.demo
start_game $'1\n' --record "$DEMO"
sleep 1
focus
xdotool key s
sleep 0.5
xdotool mousemove_relative 3 0
sleep 0.2
xdotool mousemove_relative 40 -20
sleep 0.3
xdotool mousemove_relative -- -40 20
sleep 0.3
xdotool click 1
wait_console "ステージクリア" 5 || fail "no stage clear"
# A burst: many motions queued at once, faster than the game takes them.
burst=()
for _ in $(seq 1 30); do burst+=(mousemove_relative 4 3); done
xdotool "${burst[@]}"
sleep 0.5
# Every shot spent: the time runs out within a few seconds.
xdotool click --repeat 29 --delay 15 1
for _ in $(seq 1 100); do [ -s "$WORK/game/ranking.dat" ] && break; sleep 0.1; done
[ -s "$WORK/game/ranking.dat" ] || fail "the time did not run out"
sleep 0.3
xdotool key n
sleep 0.4
xdotool key q
[ "$(wait_status)" = 0 ] || fail "the recorded game did not end with q"
cp "$WORK/out.txt" "$WORK/rec-out.txt"
cp "$WORK/game/ranking.dat" "$WORK/rec-ranking.dat"

head -n 1 "$DEMO" | grep -qx '# tarmik-demo 2 tarmik [0-9.]*' || fail "demo header: $(head -n 1 "$DEMO")"
stages=$(sha256sum "$WORK/clean/stagefile.txt" | cut -d' ' -f1)
[ "$(sed -n 2p "$DEMO")" = "stages $stages" ] || fail "the demo does not name its stages"
grep -qx 'menu 1' "$DEMO" || fail "no menu answer"
grep -q '^tick [0-9]' "$DEMO" || fail "idle ticks not run-length coded"
expect=$(grep '^expect ' "$DEMO") || fail "no final state"
# The other moves cancel out: only the burst leaves the view elsewhere.
grep -qE ' ply\.(x|z)=0 ' <<< "$expect" && fail "the burst did not move the view: $expect"
[ "$(tail -n 1 "$DEMO" | cut -d' ' -f1-2)" = "key q" ] || fail "the demo does not end with q"

# Playback without pacing, in a fresh copy of the same game folder; the demo answers the menu.
play_sim() { # DIR DEMO -> status; console in DIR/out.txt, state in DIR/err.txt
  rm -rf "$1"; cp -r "$WORK/clean" "$1"
  (cd "$1" && "$SIM" "$2" < /dev/null > out.txt 2> err.txt)
}
sed '$d' "$DEMO" > "$WORK/upto-q.demo"
echo state >> "$WORK/upto-q.demo"
play_sim "$WORK/sim" "$WORK/upto-q.demo" || fail "tarmik-sim playback: $(cat "$WORK/sim/err.txt")"
cmp "$WORK/rec-out.txt" "$WORK/sim/out.txt" || fail "console bytes differ"
cmp "$WORK/rec-ranking.dat" "$WORK/sim/ranking.dat" || fail "ranking lines differ"
for f in ${expect#expect }; do
  grep -qxF "$f" "$WORK/sim/err.txt" || fail "state at the end differs: $f"
done
play_sim "$WORK/sim" "$DEMO" || fail "playback to q: status $?"
cmp "$WORK/rec-out.txt" "$WORK/sim/out.txt" || fail "console bytes differ to q"

# A demo with one shot left out no longer ends in the recorded state.
awk '/^click left down/ && !n++ {next} 1' "$DEMO" > "$WORK/changed.demo"
st=0; play_sim "$WORK/sim" "$WORK/changed.demo" || st=$?
[ "$st" = 1 ] || fail "a changed demo played back with status $st"
grep -q 'played back differently' "$WORK/sim/err.txt" || fail "no word of the difference"

# The game's own playback in the window: by default the ranking file stays as it was.
rm -rf "$WORK/game"; cp -r "$WORK/clean" "$WORK/game"
start_game '' --playdemo "$DEMO"
[ "$(wait_status)" = 0 ] || fail "--playdemo: $(cat "$WORK/err.txt")"
cmp "$WORK/rec-out.txt" "$WORK/out.txt" || fail "--playdemo console differs"
[ -e "$WORK/game/ranking.dat" ] && fail "--playdemo entered the result"
(cd "$WORK/game" && ./tarmik --timedemo "$DEMO" --ranking > /dev/null 2> "$WORK/time.txt") ||
  fail "--timedemo: $(cat "$WORK/time.txt")"
grep -qE '^timedemo: [0-9]+ frames, [0-9.]+ seconds, [0-9.]+ frames per second$' "$WORK/time.txt" ||
  fail "timedemo report: $(cat "$WORK/time.txt")"
cmp "$WORK/rec-ranking.dat" "$WORK/game/ranking.dat" || fail "--ranking did not enter the same line"

# Not a demo, another format, a command a demo does not hold: one line, status 2.
printf '# tarmik-demo 9 tarmik 9.0\nmenu 1\n' > "$WORK/v9.demo"
printf '# tarmik-demo 1 tarmik 1.0\nmenu 1\npng x.png\n' > "$WORK/png.demo"
for f in "$WORK/game/stagefile.txt" "$WORK/v9.demo" "$WORK/png.demo"; do
  st=0; (cd "$WORK/game" && ./tarmik --playdemo "$f" > "$WORK/o.txt" 2> "$WORK/e.txt") || st=$?
  [ "$st" = 2 ] && [ "$(wc -l < "$WORK/e.txt")" = 1 ] && [ ! -s "$WORK/o.txt" ] ||
    fail "$f: status $st, $(cat "$WORK/e.txt")"
done
st=0; (cd "$WORK/game" && "$SIM" "$WORK/v9.demo" > /dev/null 2> "$WORK/e.txt") || st=$?
[ "$st" = 2 ] || fail "tarmik-sim played another format"
# A demo that ends early just ends.
head -n 12 "$DEMO" > "$WORK/short.demo"
(cd "$WORK/game" && ./tarmik --timedemo "$WORK/short.demo" > /dev/null 2>&1) || fail "short demo"

# A game started with --play has no menu answer: it plays back without the menu too.
rm -rf "$WORK/game"; cp -r "$WORK/clean" "$WORK/game"
start_game '' --play --record "$WORK/play.demo"
sleep 1
focus
xdotool key q
[ "$(wait_status)" = 0 ] || fail "--play --record did not end with q"
grep -q '^menu' "$WORK/play.demo" && fail "--play recorded a menu answer"
play_sim "$WORK/sim" "$WORK/play.demo" || fail "--play demo: $(cat "$WORK/sim/err.txt")"
cmp "$WORK/out.txt" "$WORK/sim/out.txt" || fail "--play demo: console bytes differ"

# The shipped demo: a whole game of the shipped stages, played back to its recorded end.
SHIPPED=$GAME_DIR/tarmik.demo
[ -f "$SHIPPED" ] || fail "no shipped demo"
rm -rf "$WORK/clean"; cp -r "$GAME_DIR" "$WORK/clean"; rm -f "$WORK/clean/ranking.dat"
play_sim "$WORK/ship" "$SHIPPED" || fail "shipped demo: $(tail -n 2 "$WORK/ship/err.txt")"
iconv -f CP932 -t UTF-8 "$WORK/ship/out.txt" | grep -c 'ステージクリア' | grep -qx 14 ||
  fail "the shipped demo does not clear the 14 stages"
grep -q ' gameover=1 ' <(grep '^expect' "$SHIPPED") || fail "the shipped demo does not end a game"
# --record never writes the game's own files, a device, or a file named after an option.
cp "$WORK/game/stagefile.txt" "$WORK/stages.before"
for target in stagefile.txt ranking.dat /dev/full --data; do
  st=0; (cd "$WORK/game" && ./tarmik --record "$target" < /dev/null > "$WORK/o.txt" 2> "$WORK/e.txt") || st=$?
  [ "$st" = 2 ] && [ "$(wc -l < "$WORK/e.txt")" = 1 ] && [ ! -s "$WORK/o.txt" ] ||
    fail "--record $target: status $st, $(cat "$WORK/e.txt")"
done
cmp -s "$WORK/stages.before" "$WORK/game/stagefile.txt" || fail "--record wrote over the stage file"
[ -e "$WORK/game/--data" ] && fail "--record --data wrote a file named --data"

# A recording the disk refuses (here: a file size limit) is said, and the game ends non-zero.
# Its standard error goes through a pipe, which no file size limit holds back.
rm -rf "$WORK/game"; cp -r "$WORK/clean" "$WORK/game"
(sleep 3; xdotool search --name 'ＴＡＲＭＩＫ' windowfocus --sync key q 2> /dev/null || true) &
QUITTER=$!
(set +e; cd "$WORK/game" && printf '1\n' |
  timeout 20 sh -c 'trap "" XFSZ; ulimit -f 0; exec ./tarmik --record "$0"' "$WORK/full.demo" \
    2>&1 > /dev/null | cat > "$WORK/e.txt"; echo "${PIPESTATUS[1]}" > "$WORK/st")
wait $QUITTER || true
[ "$(cat "$WORK/st")" = 1 ] || fail "a demo the disk refused ended with status $(cat "$WORK/st")"
grep -q 'the demo cannot be written' "$WORK/e.txt" || fail "no word of the refused demo: $(cat "$WORK/e.txt")"

# q ends a time-demo too.
{ head -n 3 "$SHIPPED"; for _ in $(seq 1 2000); do echo "tick 100"; done; } > "$WORK/long.demo"
rm -rf "$WORK/game"; cp -r "$WORK/clean" "$WORK/game"
(cd "$WORK/game" && exec ./tarmik --timedemo "$WORK/long.demo" > /dev/null 2> "$WORK/e.txt") &
TPID=$!
for _ in $(seq 1 50); do
  WIN=$(xdotool search --name 'ＴＡＲＭＩＫ' 2> /dev/null | head -n 1 || true)
  [ -n "$WIN" ] && break
  sleep 0.1
done
sleep 1
xdotool windowfocus --sync "$WIN" key q 2> /dev/null || true
for _ in $(seq 1 50); do kill -0 $TPID 2> /dev/null || break; sleep 0.1; done
kill -0 $TPID 2> /dev/null && { kill $TPID; fail "q did not end the time-demo"; }
wait $TPID || fail "the time-demo ended by q with status $?"
grep -q '^timedemo: ' "$WORK/e.txt" || fail "the time-demo ended by q said nothing"
echo "record and playback test passed"
