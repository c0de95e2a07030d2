#!/usr/bin/env bash
# The game in the browser: builds the page (scripts/web), serves it on localhost and plays it
# in headless Chromium against the same steps played by tarmik-sim on the desktop (see
# tests/web/web-test.js). Skips, saying why, when the web tool chain is not installed.
set -euo pipefail
GAME_DIR=$1
BUILD_DIR=$2
root=$(cd "$(dirname "$0")/.." && pwd)
skip() {
  echo "SKIP: $* (TARMIK_WEB=1 scripts/setup installs the web tool chain)"
  exit 77
}
[ "${TARMIK_WEB:-1}" = 1 ] || { echo "SKIP: TARMIK_WEB=0 leaves the page out"; exit 77; }
command -v em++ > /dev/null || skip "emscripten is not installed"
command -v chromium > /dev/null || skip "chromium is not installed"
command -v node > /dev/null || skip "node is not installed"
[ -d "$root/tests/web/node_modules/puppeteer-core" ] || skip "puppeteer-core is not installed in tests/web"
command -v fluidsynth > /dev/null && command -v lame > /dev/null || skip "fluidsynth or lame is missing"

bash "$root/scripts/web" > /dev/null
. "$root/scripts/xvfb-env"
start_virtual_display
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$root/build-web" > /dev/null 2>&1 &
server=$!
cleanup() {
  kill "$server" 2> /dev/null || true
  kill "$XVFB_PID" 2> /dev/null || true
}
trap cleanup EXIT
for _ in $(seq 1 50); do
  python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/index.html')" 2> /dev/null && break
  sleep 0.1
done
cd "$root/tests/web"
node web-test.js "http://127.0.0.1:$port/index.html" "$BUILD_DIR/tools/tarmik-sim" "$GAME_DIR" \
  "$BUILD_DIR/e2e-shots/web" "$root/build-web"
