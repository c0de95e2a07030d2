# Fullscreen without a window manager (bare Xvfb) and under a real one (openbox): --fullscreen
# covers the 1280 x 1024 screen with the frame in whole blocks (2 x 2 here, 1000 x 1000 at
# 140, 12) on a dark border; F11 and Alt+Enter toggle it; a plain window turns fullscreen with
# F11 too. The game keeps its 500 x 500 through it all, and the keys never reach it.
. "$(dirname "$0")/e2elib.sh"
command -v openbox > /dev/null || { echo "openbox is not installed (scripts/setup test installs it)"; exit 77; }

geometry() { xwininfo -id "$WIN" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print w"x"h"+"x"+"y}'; }
# wait_geometry WANT: the window takes it within a few seconds.
wait_geometry() {
  for _ in $(seq 1 50); do [ "$(geometry)" = "$1" ] && return 0; sleep 0.1; done
  return 1
}
# The whole screen: the frame's blocks in the middle, the border dark around them.
check_full() { # WHAT
  wait_geometry "1280x1024+0+0" || fail "$1: not fullscreen ($(geometry))"
  # The next frame shows it.
  for _ in $(seq 1 50); do
    sleep 0.1
    import -window root "$WORK/full.png"
    near "$(pixel "$WORK/full.png" 140 500)" 0 0 0 2 || break
  done
  for p in "5 5" "139 500" "1140 500" "640 11" "640 1012"; do
    near "$(pixel "$WORK/full.png" $p)" 0 0 0 2 || fail "$1: no dark border at $p"
  done
  for p in "140 500" "1139 500" "640 12" "640 1011"; do
    near "$(pixel "$WORK/full.png" $p)" 0 0 0 2 && fail "$1: the frame does not reach $p"
  done
  # Whole blocks: each 2 x 2 block of the frame is one colour.
  convert "$WORK/full.png" -crop 1000x1000+140+12 +repage "$WORK/frame2.png"
  convert "$WORK/frame2.png" -sample 500x500 -scale 1000x1000 "$WORK/blocks.png"
  d=$(compare -metric AE "$WORK/frame2.png" "$WORK/blocks.png" null: 2>&1 || true)
  [ "$d" = 0 ] || fail "$1: $d pixels differ from their block"
}
key() { focus; xdotool key "$1"; }

run_case() { # WHAT
  rm -f "$WORK/game/ranking.dat"
  start_game '' --play --fullscreen --record "$WORK/full.demo"
  check_full "$1, --fullscreen"
  key F11
  wait_geometry "500x500+$2" || fail "$1: F11 did not give the window back ($(geometry))"
  key alt+Return
  check_full "$1, Alt+Enter"
  key alt+Return
  wait_geometry "500x500+$2" || fail "$1: Alt+Enter did not give the window back ($(geometry))"
  key q
  [ "$(wait_status)" = 0 ] || fail "$1: q did not end the game"
  [ "$(grep -c '^reshape' "$WORK/full.demo")" = 1 ] && grep -q '^reshape 500 500$' "$WORK/full.demo" ||
    fail "$1: the game's size changed: $(grep '^reshape' "$WORK/full.demo" | head -3)"
  grep -q '^key 13 ' "$WORK/full.demo" && fail "$1: Alt+Enter reached the game"
  # A plain window (exactly today's) turns fullscreen with F11, and keeps the frame after.
  start_game '' --play --record "$WORK/plain.demo"
  sleep 1
  key F11
  check_full "$1, F11 from a plain window"
  key F11
  wait_geometry "500x500+$2" || fail "$1: F11 did not give the plain window back ($(geometry))"
  key q
  [ "$(wait_status)" = 0 ] || fail "$1: q did not end the game"
  [ "$(grep -c '^reshape' "$WORK/plain.demo")" = 1 ] || fail "$1: fullscreen reached the game"
}

# Without a window manager the window itself covers the screen, and goes back to (1, 1).
run_case "bare Xvfb" "1+1"

# Under openbox: the manager's fullscreen state, and the window back in its frame.
openbox > "$WORK/openbox.log" 2>&1 &
OPENBOX=$!
trap 'kill $OPENBOX 2> /dev/null || true; cleanup' EXIT
for _ in $(seq 1 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id' && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id' || fail "openbox did not start: $(cat "$WORK/openbox.log")"
start_game '' --play --fullscreen
check_full "openbox, --fullscreen"
xprop -id "$WIN" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN || fail "openbox: no fullscreen state"
key F11
for _ in $(seq 1 50); do [ "$(geometry | cut -d+ -f1)" = 500x500 ] && break; sleep 0.1; done
[ "$(geometry | cut -d+ -f1)" = 500x500 ] || fail "openbox: F11 did not give the window back ($(geometry))"
xprop -id "$WIN" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN && fail "openbox: still in the fullscreen state"
key alt+Return
check_full "openbox, Alt+Enter"
key q
[ "$(wait_status)" = 0 ] || fail "openbox: q did not end the game"
echo "fullscreen test passed"
