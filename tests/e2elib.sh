# Shared steps of the end-to-end scripts: a private copy of the game folder, start, wait, pixels.
set -euo pipefail
GAME_DIR=$1
BUILD_DIR=$2
SHOTS=$BUILD_DIR/e2e-shots
mkdir -p "$SHOTS"
WORK=$(mktemp -d)
GAME_PID=
# A display of its own, so no other test's window can cover or answer for the game's.
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/xvfb-env"
start_virtual_display
cleanup() {
  [ -f "$WORK/pid" ] && kill "$(cat "$WORK/pid")" 2>/dev/null || true
  kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
cp -r "$GAME_DIR" "$WORK/game"
rm -f "$WORK/game/ranking.dat"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

fail() { echo "FAIL: $*" >&2; exit 1; }

# start_game INPUT [OPTION...]: runs the game in the copy with INPUT on standard input.
start_game() {
  rm -f "$WORK/status" "$WORK/pid"
  # (The status is kept whatever it is: under set -e a failing wait would end the subshell.)
  (cd "$WORK/game" && printf '%s' "$1" | ./tarmik "${@:2}" > "$WORK/out.txt" 2> "$WORK/err.txt" &
   echo $! > "$WORK/pid"; st=0; wait $! || st=$?; echo $st > "$WORK/status") &
  GAME_PID=$!
  WIN=
  # A loaded machine (CI, a build alongside) may take a while to bring the window up.
  for _ in $(seq 1 300); do
    WIN=$(xdotool search --name 'ＴＡＲＭＩＫ' 2>/dev/null | head -n 1 || true)
    [ -n "$WIN" ] && break
    [ -f "$WORK/status" ] && fail "the game ($*) ended at once with $(cat "$WORK/status"): $(cat "$WORK/err.txt")"
    sleep 0.1
  done
  [ -n "$WIN" ] || fail "no game window ($*; status $(cat "$WORK/status" 2> /dev/null), $(head -c 300 "$WORK/err.txt"))"
}

# wait_status: waits for the game to end and prints its status.
wait_status() {
  for _ in $(seq 1 300); do
    [ -f "$WORK/status" ] && { cat "$WORK/status"; return; }
    sleep 0.1
  done
  echo timeout
}

# pixel FILE X Y -> "R G B"
pixel() {
  convert "$1" -format '%[fx:int(255*p{'"$2"','"$3"'}.r+0.5)] %[fx:int(255*p{'"$2"','"$3"'}.g+0.5)] %[fx:int(255*p{'"$2"','"$3"'}.b+0.5)]' info:
}
# near "R G B" R G B TOL
near() {
  read -r r g b <<< "$1"
  [ $(( (r-$2)*(r-$2) < $5*$5 && (g-$3)*(g-$3) < $5*$5 && (b-$4)*(b-$4) < $5*$5 )) -eq 1 ]
}
# dark_share FILE W H X Y: share of nearly black pixels in the rectangle.
dark_share() {
  convert "$1" -crop "$2x$3+$4+$5" +repage -colorspace gray -threshold 20% -negate -format '%[fx:mean]' info:
}

# focus: gives the game window the keyboard, so xdotool's keys reach it like a real device.
focus() { timeout 5 xdotool windowfocus --sync "$WIN" 2>/dev/null || true; }
# console_has TEXT: the game's console output (Shift-JIS) holds TEXT (UTF-8).
console_has() { iconv -f CP932 -t UTF-8 "$WORK/out.txt" 2>/dev/null | grep -qF "$1"; }
# wait_console TEXT [SECONDS]
wait_console() {
  local n=$(( ${2:-5} * 10 ))
  for _ in $(seq 1 $n); do console_has "$1" && return 0; sleep 0.1; done
  return 1
}
# row FILE Y: the pixels of one row as "r g b" lines.
row() { convert "$1" -crop "500x1+0+$2" +repage -depth 8 txt:- | sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1 \2 \3/p'; }
