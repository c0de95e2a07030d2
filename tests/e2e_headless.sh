# The game without a display plays exactly as in a window: every shipped demo and 200 generated
# scripts (keys, motions, bursts, clicks, ticks, resizes; the shipped stages and generated stage
# files; an empty or a seeded ranking) are run by tarmik-sim in a window and by tarmik-replay,
# built without any platform, and give the same console bytes, the same state and object dumps
# and expect verdicts on standard error, the same exit status and the same ranking.dat.
. "$(dirname "$0")/e2elib.sh"
SIM=$BUILD_DIR/tools/tarmik-sim
REPLAY=$BUILD_DIR/tools/tarmik-replay
COUNT=${HEADLESS_SCRIPTS:-200}
cases=$WORK/cases
mkdir -p "$cases"

# Stage files of our own: a few stages of figures on every pattern, targets and blocks near the
# eye, so that shots hit, stages fall and the file runs out.
awk -v n="$COUNT" -v dir="$cases" 'BEGIN {
  srand(20261207);
  for (c = 1; c <= n; c++) {
    d = dir "/" c; system("mkdir -p " d);
    if (c % 4 == 0) {
      f = d "/stagefile.txt";
      stages = 1 + int(rand() * 3);
      for (s = 0; s < stages; s++) {
        if (rand() < 0.5) print "# stage " s > f;
        k = 1 + int(rand() * 4); print k > f;
        for (o = 0; o < k; o++) {
          r = rand(); t = r < 0.5 ? "hito" : (r < 0.8 ? "mato" : "building");
          printf "%s 1 %d 0 %d %.1f %.1f %.1f %d 0 %d %d %d %d %d 0 %d\n", t,
            int(rand() * 30) - 15, int(rand() * 30) - 15, 0.5 + rand(), 0.5 + rand(), 0.5 + rand(),
            int(rand() * 5) - 2, int(rand() * 5) - 2, int(rand() * 3) - 1, 0, int(rand() * 3) - 1,
            4 + int(rand() * 12), int(rand() * 12) - 1 > f;
        }
      }
      close(f);
    }
    if (c % 5 == 0) {
      f = d "/ranking.dat";
      for (i = 0; i < 1 + int(rand() * 22); i++)
        printf "%d\t\t%d\t%d\tBAT\n", 1000 - i * 40, i, 50 > f;
      close(f);
    }
    f = d "/script.sim";
    print (rand() < 0.97 ? "menu 1" : "menu 2") > f;
    if (rand() < 0.8) { print "key s" > f; print "frame" > f; }
    lines = 10 + int(rand() * 50);
    for (i = 0; i < lines; i++) {
      r = rand();
      if (r < 0.22) printf "tick %d\n", 1 + int(rand() * 12) > f;
      else if (r < 0.26) printf "tick %d\n", 30 + int(rand() * 50) > f;
      else if (r < 0.30) printf "timer %d\n", 1 + int(rand() * 4) > f;
      else if (r < 0.36) print "frame" > f;
      else if (r < 0.48) {
        split("s y n r a d w z x space 1 x", keys, " ");
        k = keys[1 + int(rand() * 12)];
        if (rand() < 0.01) k = (rand() < 0.5 ? "q" : "esc");
        print "key " k > f;
        if (rand() < 0.7) print "frame" > f;
      }
      else if (r < 0.62) printf "move %d %d\n", int(rand() * 300) - 150, int(rand() * 300) - 150 > f;
      else if (r < 0.68) {
        b = "burst"; m = 2 + int(rand() * 5);
        for (j = 0; j < m; j++) b = b sprintf(" %d %d", int(rand() * 40) - 20, int(rand() * 40) - 20);
        print b > f;
      }
      else if (r < 0.72) printf "motion %d %d\n", int(rand() * 500), int(rand() * 500) > f;
      else if (r < 0.86) {
        split("left left left left right middle", buttons, " ");
        print "click " buttons[1 + int(rand() * 6)] (rand() < 0.8 ? " down" : " up") > f;
      }
      else if (r < 0.87) printf "resize %d %d\n", 100 + int(rand() * 700), 100 + int(rand() * 600) > f;
      else if (r < 0.89) {
        # Every shot spent: the time runs out fast, the game ends and enters its result.
        for (j = 0; j < 11; j++) print "click" > f;
        print "tick 25" > f;
      }
      else if (r < 0.90) printf "reshape %d %d\n", int(rand() * 900), int(rand() * 900) > f;
      else if (r < 0.97) print "state" > f;
      else print "objects" > f;
    }
    print "state" > f;
    if (rand() < 0.3) print "key q" > f;
    close(f);
  }
}'

# One case in both ways: WAY is sim or replay.
run_case() { # DIR WAY
  local d=$1 way=$2 run=$1/$2
  rm -rf "$run"; mkdir -p "$run"
  cp "$WORK/game/shnm16.f1b" "$run/"
  if [ -f "$d/stagefile.txt" ]; then cp "$d/stagefile.txt" "$run/"; else cp "$WORK/game/stagefile.txt" "$run/"; fi
  [ -f "$d/ranking.dat" ] && cp "$d/ranking.dat" "$run/"
  local tool=$SIM; [ "$way" = replay ] && tool=$REPLAY
  local st=0
  (cd "$run" && timeout 120 "$tool" "${3:-../script.sim}" < /dev/null > out.txt 2> err.txt) || st=$?
  echo "$st" > "$run/status"
}
export -f run_case
export SIM REPLAY WORK

compare() { # DIR -> empty when both ways agree
  local a=$1/sim b=$1/replay
  cmp -s "$a/out.txt" "$b/out.txt" || { echo "$1: console bytes differ"; return; }
  cmp -s "$a/status" "$b/status" || { echo "$1: status $(cat "$a/status") vs $(cat "$b/status")"; return; }
  # The window's own picture is the only thing a run without one cannot give.
  diff -q <(grep -v 'no window to take a picture' "$a/err.txt") "$b/err.txt" > /dev/null ||
    { echo "$1: standard error differs:"; diff "$a/err.txt" "$b/err.txt" | head -5; return; }
  if [ -f "$a/ranking.dat" ] || [ -f "$b/ranking.dat" ]; then
    cmp -s "$a/ranking.dat" "$b/ranking.dat" || { echo "$1: ranking.dat differs"; return; }
  fi
}

# Every shipped demo, played to its end (and to its expect line) both ways.
for demo in "$WORK"/game/*.demo; do
  d=$cases/demo-$(basename "$demo" .demo)
  mkdir -p "$d"
  run_case "$d" sim "$demo"
  run_case "$d" replay "$demo"
  [ "$(cat "$d/sim/status")" = 0 ] || fail "$demo does not play back in the window: $(tail -n 1 "$d/sim/err.txt")"
  problem=$(compare "$d")
  [ -z "$problem" ] || fail "$problem"
done

# The generated scripts: the window's runs two at a time, the headless ones as they come.
seq 1 "$COUNT" | xargs -P 2 -I{} bash -c 'run_case "$WORK/cases/{}" sim'
seq 1 "$COUNT" | xargs -P 2 -I{} bash -c 'run_case "$WORK/cases/{}" replay'
differ=0 played=0 ticks=0
for c in $(seq 1 "$COUNT"); do
  problem=$(compare "$cases/$c")
  if [ -n "$problem" ]; then
    differ=$((differ + 1))
    [ $differ -le 3 ] && echo "$problem" >&2
    # Kept for a look: the script and both runs.
    rm -rf "$SHOTS/headless-$c"; cp -r "$cases/$c" "$SHOTS/headless-$c"
  fi
  grep -q '^gameover=1' "$cases/$c/replay/err.txt" && played=$((played + 1))
done
echo "$COUNT scripts: $differ differ; $played reached a game over"
[ $differ = 0 ] || fail "$differ of $COUNT scripts play differently without a display"
# The generator must reach the corners it is meant for, or the comparison proves little.
[ "$played" -ge $((COUNT / 10)) ] || fail "only $played scripts reached a game over"
hits=$(cat "$cases"/*/replay/out.txt | iconv -f CP932 -t UTF-8 | grep -c 'ヒット' || true)
[ "$hits" -ge $((COUNT / 10)) ] || fail "only $hits hits in all the scripts"

# tarmik-sim --headless is the same run without its window.
d=$cases/1
(cd "$d/replay" && "$SIM" --headless ../script.sim < /dev/null > out2.txt 2> err2.txt) || true
cmp -s "$d/replay/out.txt" "$d/replay/out2.txt" && cmp -s "$d/replay/err.txt" "$d/replay/err2.txt" ||
  fail "tarmik-sim --headless differs from tarmik-replay"
# And it needs no display at all.
(cd "$d/replay" && env -u DISPLAY "$REPLAY" ../script.sim < /dev/null > out3.txt 2> /dev/null) || true
cmp -s "$d/replay/out.txt" "$d/replay/out3.txt" || fail "tarmik-replay needs a display"
echo "headless test passed"
