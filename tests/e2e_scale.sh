# The scaled frame. The same script played by tarmik-sim at scale 1, 2 and 3 (messages on, so
# the notices and the ranking table are in it): the window at scale N, taken N x N pixels a
# block, is the 500 x 500 frame exactly. Then the real game: resizing its window never moves
# the view and keeps the frame centred in whole blocks (or filled, filter = linear); real
# pointer motion pans 0.1 units per frame pixel, times the sensitivity, at scale 1, 2 and 3;
# and a game played at scale 2 plays back the same at scale 1 and without a display.
XVFB_SCREEN=1600x1600x24 # room for the window at scale 3
. "$(dirname "$0")/e2elib.sh"
SIM=$BUILD_DIR/tools/tarmik-sim
REPLAY=$BUILD_DIR/tools/tarmik-replay
cat > "$WORK/game/stagefile.txt" <<'STAGES'
2
mato 1  0 0 -12  1 1 1  0 0 0  0 0 0  10 0 0
building 1  -20 0 10  4 4 4  0 0 0  0 0 0  10 0 0
1
hito 1  10 0 10  1 1 1  1 0 1  0 0 0  10 0 3
STAGES
printf '900\t\t3\t60\tBAT\n300\t\t1\t20\tテポドン\n' | iconv -f UTF-8 -t CP932 > "$WORK/ranking.seed"

# 1. The frame at scale 1, 2 and 3, from the same script.
cat > "$WORK/game/frames.sim" <<'SIM'
menu 1
frame
png title.png
key s
frame
tick 5
png intro.png
move 0 0
move 0 -120
click
tick 2
png shot.png
tick 40
key r
frame
png table.png
timer 1200
frame
png over.png
SIM
shots() { # SCALE [NAME]
  rm -f "$WORK/game/ranking.dat"; cp "$WORK/ranking.seed" "$WORK/game/ranking.dat"
  (cd "$WORK/game" && "$SIM" --set messages=on --set "scale=$1" frames.sim < /dev/null > /dev/null 2> "$WORK/err.txt") ||
    fail "tarmik-sim at scale $1: $(cat "$WORK/err.txt")"
  for f in title intro shot table over; do mv "$WORK/game/$f.png" "$WORK/$f-${2:-$1}.png"; done
}
shots 1
shots 2
shots 3
# The frame scaled by GL's own copy (as on a GPU) instead of blocks through the X server.
TARMIK_GL_SCALING=1 shots 2 2gl
for f in title intro shot table over; do
  cmp -s <(convert "$WORK/$f-2.png" rgb:-) <(convert "$WORK/$f-2gl.png" rgb:-) ||
    fail "$f at scale 2: GL's copy and the blocks differ"
done
for n in 2 3; do
  for f in title intro shot table over; do
    size=$(identify -format '%wx%h' "$WORK/$f-$n.png")
    [ "$size" = "$((500 * n))x$((500 * n))" ] || fail "$f at scale $n is $size"
    convert "$WORK/$f-1.png" -scale "$((100 * n))%" "$WORK/up.png"
    d=$(compare -metric AE "$WORK/up.png" "$WORK/$f-$n.png" null: 2>&1 || true)
    [ "$d" = 0 ] || { cp "$WORK/$f-$n.png" "$WORK/$f-1.png" "$SHOTS/"; fail "$f at scale $n: $d pixels are not their frame pixel's"; }
  done
done
# The table and the notices are there (light on their outline).
white() { convert "$1" -crop "$2" +repage -fx 'r>0.95&&g>0.95&&b>0.7' -format '%[fx:mean*w*h]' info:; }
[ "$(white "$WORK/table-1.png" 428x60+36+28)" -gt 100 ] || fail "no ranking table in the window"
[ "$(white "$WORK/title-1.png" 400x60+0+0)" -gt 100 ] || fail "no notices in the window"

# 2. The real game at scale 2: its window resized (no window manager here) keeps the view and
# the frame centred in whole blocks; with filter = linear the frame fills the window.
rm -f "$WORK/game/ranking.dat"
start_game '' --play --scale 2 --record "$WORK/resized.demo"
sleep 1
geo=$(xwininfo -id "$WIN" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w"x"h}')
[ "$geo" = "1000x1000" ] || fail "the window at scale 2 is $geo"
focus
xdotool key s
sleep 0.5
xdotool windowsize "$WIN" 700 600
sleep 0.8
import -window "$WIN" "$WORK/resized.png"
# One block a frame pixel, 500 x 500 in the middle: a border of 100 left and right, 50 above.
near "$(pixel "$WORK/resized.png" 99 300)" 0 0 0 2 || fail "no border left of the frame"
near "$(pixel "$WORK/resized.png" 100 300)" 0 0 0 2 && fail "the frame does not start at 100"
near "$(pixel "$WORK/resized.png" 350 49)" 0 0 0 2 || fail "no border above the frame"
near "$(pixel "$WORK/resized.png" 350 50)" 0 0 0 2 && fail "the frame does not start at 50"
# The sight's cross in the frame's middle.
red=$(convert "$WORK/resized.png" -crop 20x6+360+297 +repage -fx 'r>0.8&&g<0.2&&b<0.2' -format '%[fx:mean*w*h]' info:)
[ "$red" -ge 10 ] || fail "no cross in the frame's middle"
focus
xdotool key q
[ "$(wait_status)" = 0 ] || fail "q did not end the game"
[ "$(grep -c '^reshape' "$WORK/resized.demo")" = 1 ] || fail "the window's resizes reached the game"
grep -q '^reshape 500 500$' "$WORK/resized.demo" || fail "the game was not given 500 x 500"
grep -q ' ply.x=0 ply.y=-120 ply.z=0 ' "$WORK/resized.demo" || fail "the view moved: $(grep '^expect' "$WORK/resized.demo")"

printf 'filter = linear\n' > "$WORK/linear.conf"
start_game '' --play --config "$WORK/linear.conf"
sleep 1
xdotool windowsize "$WIN" 700 600
sleep 0.8
import -window "$WIN" "$WORK/linear.png"
near "$(pixel "$WORK/linear.png" 49 300)" 0 0 0 2 || fail "linear: no border left of the frame"
near "$(pixel "$WORK/linear.png" 52 300)" 0 0 0 2 && fail "linear: the frame does not fill 600 x 600"
near "$(pixel "$WORK/linear.png" 350 1)" 0 0 0 2 && fail "linear: a border above the frame"
focus
xdotool key q
[ "$(wait_status)" = 0 ] || fail "q did not end the game"

# 3. Panning through the real pointer: 200 pixels right in steps of 10, 60 up in steps of 6,
# after the first motion, which marks where the pointer is (in frame pixels: a motion within
# the frame pixel the pointer is on reaches the game as no motion at all).
pan() { # SCALE SENSITIVITY
  printf 'sensitivity = %s\n' "$2" > "$WORK/pan.conf"
  rm -f "$WORK/game/ranking.dat"
  start_game '' --play --scale "$1" --config "$WORK/pan.conf" --record "$WORK/pan-$1-$2.demo"
  sleep 1
  focus
  xdotool key s
  sleep 0.5
  xdotool mousemove_relative 6 0 # a frame pixel or more, at any of these scales
  sleep 0.3
  for _ in $(seq 1 20); do xdotool mousemove_relative 10 0; sleep 0.05; done
  for _ in $(seq 1 10); do xdotool mousemove_relative -- 0 -6; sleep 0.05; done
  sleep 0.3
  xdotool key q
  [ "$(wait_status)" = 0 ] || fail "scale $1: q did not end the game"
  read -r x z < <(grep '^expect' "$WORK/pan-$1-$2.demo" | tr ' ' '\n' | awk -F= '$1=="ply.x"{x=$2} $1=="ply.z"{z=$2} END{print x, z}')
  awk -v x="$x" -v z="$z" -v n="$1" -v s="$2" 'BEGIN {
    ex = -200 * s / n * 0.1; ez = 60 * s / n * 0.1
    exit !((x - ex) ^ 2 <= 0.0101 && (z - ez) ^ 2 <= 0.0101) }' ||
    fail "scale $1, sensitivity $2: the view went to x $x, z $z"
  echo "scale $1, sensitivity $2: x $x, z $z"
}
pan 1 1
pan 2 1
pan 3 1
pan 2 1.5

# 4. The game played at scale 2 plays back the same at scale 1 and with no display at all.
play_back() { # TOOL
  rm -rf "$WORK/back"; cp -r "$WORK/game" "$WORK/back"; rm -f "$WORK/back/ranking.dat"
  (cd "$WORK/back" && "$@" "$WORK/pan-2-1.5.demo" < /dev/null > /dev/null 2> "$WORK/back.txt") ||
    fail "$(basename "$1") did not play the scale-2 game back: $(cat "$WORK/back.txt")"
}
play_back "$SIM"
play_back "$REPLAY"
echo "scale test passed"
