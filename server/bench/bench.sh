#!/usr/bin/env bash
# The server's figures on this machine, loopback only, bounded in time and connections:
#   server/bench/bench.sh [REPLAY_TOOL]
# 1. verified submissions per second: wrk posting a new demo per request for 10 s, 4
#    connections, every one replayed;
# 2. ranking reads: GET /api/ranking (20 entries of the games stored by 1) for 10 s, 8
#    connections, latency percentiles.
# The replay tool defaults to the build's tarmik-replay, else the tests' stand-in.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
replay=${1:-$build/tools/tarmik-replay}
[ -x "$replay" ] || replay=$build/server/tests/tarmik-replay-double
command -v wrk > /dev/null || { echo "wrk is not installed (scripts/setup test)" >&2; exit 1; }
stagefile=$root/data/stagefile.txt
data=$(mktemp -d)
"$build/server/tarmik-server" --listen 127.0.0.1:0 --data "$data" --stages "$stagefile" \
  --replay "$replay" --submit-rate 1e9 --submit-burst 1e9 --request-rate 1e9 \
  --request-burst 1e9 --queue 1000 > "$data/out" 2> "$data/log" &
pid=$!
trap 'kill $pid; wait $pid 2> /dev/null; rm -rf "$data"' EXIT
for _ in $(seq 1 100); do
  grep -q 'listening on' "$data/out" && break
  sleep 0.1
done
base=$(grep -o 'http://127.0.0.1:[0-9]*' "$data/out")
echo "server $base, replay tool $replay, $(nproc) cores"

echo "== verified submissions: wrk -t2 -c4 -d10s -s submit.lua $base/api/games"
STAGES=$(sha256sum "$stagefile" | cut -c1-64) \
  wrk -t2 -c4 -d10s --timeout 20s -s "$(dirname "$0")/submit.lua" "$base/api/games"
stored=$(sqlite3 "$data/tarmik.sqlite3" 'SELECT COUNT(*) FROM games')
echo "games stored: $stored"

echo "== ranking reads: wrk -t2 -c8 -d10s --latency $base/api/ranking"
wrk -t2 -c8 -d10s --latency "$base/api/ranking"
