# shellcheck shell=bash
# scripts/play on a machine without a display: one line saying so, then the demo on a virtual
# display, which must end with a stage clear and leave its frames and the GIF.
set -euo pipefail
GAME_DIR=$1
BUILD_DIR=$(cd "$2" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
OUT=$(mktemp)
trap 'rm -f "$OUT"' EXIT
[ -x "$GAME_DIR/tarmik" ] || fail "no game in $GAME_DIR"

start=$(date +%s)
env -u DISPLAY BUILD_DIR="$BUILD_DIR" timeout 120 bash "$ROOT/scripts/play" > "$OUT" 2>&1 ||
  { cat "$OUT" >&2; fail "scripts/play without a display ended with $?"; }
took=$(( $(date +%s) - start ))
cat "$OUT"

grep -qx 'No display (DISPLAY is not set): playing a short demo on a virtual display instead.' "$OUT" ||
  fail "no notice of the missing display"
demo=$BUILD_DIR/demo
n=$(find "$demo" -maxdepth 1 -name 'frame-*.png' | wc -l)
[ "$n" -ge 40 ] || fail "only $n frames"
last=$(printf '%s/frame-%03d.png' "$demo" $((n - 1)))
grep -qF "$demo/frame-000.png" "$OUT" || fail "first frame not named"
grep -qF "$last" "$OUT" || fail "last frame not named"
grep -qF "$demo/tarmik-demo.gif" "$OUT" || fail "GIF not named"
[ "$(identify "$demo/tarmik-demo.gif" | wc -l)" -eq "$n" ] || fail "GIF frames differ from PNGs"
identify -format '%w %h\n' "$demo/frame-000.png" | grep -qx '500 500' || fail "frame size"

# The game's console: hits and a stage clear.
grep -q 'ヒット' "$demo/console.txt" || fail "no hit"
grep -q 'ステージクリア' "$demo/console.txt" || fail "no stage clear"

# Frames: the title screen has no scope mask (no dark green corner), play has it.
corner() {
  convert "$1" -format '%[fx:int(255*p{5,5}.r+0.5)] %[fx:int(255*p{5,5}.g+0.5)] %[fx:int(255*p{5,5}.b+0.5)]' info:
}
[ "$(corner "$demo/frame-000.png")" != "0 51 0" ] || fail "title frame shows the scope"
[ "$(corner "$last")" = "0 51 0" ] || fail "last frame has no scope: $(corner "$last")"
echo "demo test passed in ${took}s"
