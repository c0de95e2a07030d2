#!/usr/bin/env bash
# Runs page-test.js against a real tarmik-server serving the web build (build-web/). Skips,
# saying why, when the web build or its browser tools are not there.
#   page-test.sh SERVER REPLAY_TOOL STAGEFILE SCRATCH [SERVER OPTION...]
set -euo pipefail
server_bin=$1 replay=$2 stages=$3 scratch=$4
shift 4
root=$(cd "$(dirname "$0")/../../.." && pwd)
web=${WEB_DIR:-$root/build-web}
skip() {
  echo "SKIP: $*"
  exit 77
}
[ -f "$web/index.html" ] && [ -f "$web/tarmik.js" ] || skip "no web build in $web (scripts/web)"
command -v chromium > /dev/null || skip "chromium is not installed (TARMIK_WEB=1 scripts/setup)"
command -v node > /dev/null || skip "node is not installed (TARMIK_WEB=1 scripts/setup)"
modules=$root/tests/web/node_modules
[ -d "$modules/puppeteer-core" ] || skip "puppeteer-core is not installed in tests/web"

dir=$scratch/page-test
rm -rf "$dir"
mkdir -p "$dir"
"$server_bin" --listen 127.0.0.1:0 --data "$dir/data" --replay "$replay" --stages "$stages" \
  --web "$web" "$@" > "$dir/out" 2> "$dir/log" &
pid=$!
trap 'kill $pid 2> /dev/null || true' EXIT
for _ in $(seq 1 100); do
  grep -q 'listening on' "$dir/out" && break
  sleep 0.1
done
base=$(grep -o 'http://127.0.0.1:[0-9]*' "$dir/out") || { cat "$dir/log"; exit 1; }

# One game, under a name that is markup.
name="<i>Taro</i>&\"'"
# The shipped run's game, cut by the game's own driver (the replay tool) on the stage set.
mkdir -p "$dir/cut"
cp "$stages" "$dir/cut/stagefile.txt"
(cd "$dir/cut" && "$replay" --cut game "$root/data/tarmik.demo" < /dev/null > /dev/null 2>&1) || true
[ -f "$dir/cut/game-1.demo" ] || { echo "FAIL: the shipped run held no game"; exit 1; }
cp "$dir/cut/game-1.demo" "$dir/game.demo"
python3 -c 'import json, sys; print(json.dumps({"player": sys.argv[1], "demo": open(sys.argv[2]).read()}))' \
  "$name" "$dir/game.demo" > "$dir/body.json"
answer=$(curl -sS -H 'Content-Type: application/json' --data-binary "@$dir/body.json" "$base/api/games")
id=$(python3 -c 'import json, sys; print(json.loads(sys.argv[1])["id"])' "$answer")

NODE_PATH=$modules node "$(dirname "$0")/page-test.js" "$base" "$id" "$name" "$dir/game.demo"
