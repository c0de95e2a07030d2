#!/usr/bin/env bash
# The server's figures on this machine, loopback only, each load bounded in time (SECONDS_EACH,
# 10 s) and in count (LIMIT answers per wrk thread, 200000):
#   server/bench/bench.sh [sqlite|postgresql|two|all]
#   sqlite       one server on SQLite in a scratch folder
#   postgresql   one server on a PostgreSQL 15 of its own (in a scratch folder, on loopback)
#   two          two servers on that PostgreSQL, the load split between them
# For each: 1. verified submissions per second: wrk posting a new demo per request on 4
# connections, every one replayed; 2. ranking reads: GET /api/ranking (20 entries of the games
# stored by 1) on 8 connections, with latency percentiles. After each load, the CPU seconds
# the replays, the servers, the database and wrk used, against what the cores had, which
# says what the load was limited by.
# The replay tool: REPLAY, else the build's tarmik-replay when it has --verify, each
# submission then the whole game of the shipped demo (14 stages, 783 ticks), its bytes made new
# by a comment; else the tests' stand-in (a trivial replay: a submission costs mostly the
# start of its process).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
what=${1:-all}
secs=${SECONDS_EACH:-10}
limit=${LIMIT:-200000}
replay=${REPLAY:-$build/tools/tarmik-replay}
if ! { [ -x "$replay" ] && "$replay" --help 2>&1 | grep -q -- --verify; }; then
  replay=$build/server/tests/tarmik-replay-double
fi
command -v wrk > /dev/null || { echo "wrk is not installed (scripts/setup test)" >&2; exit 1; }
pg_bin=/usr/lib/postgresql/15/bin
stagefile=$root/data/stagefile.txt
stages=$(sha256sum "$stagefile" | cut -c1-64)
cores=$(nproc)
tick=$(getconf CLK_TCK)

scratch=$(mktemp -d)
chmod 755 "$scratch"
demo=
if [ "$replay" != "$build/server/tests/tarmik-replay-double" ]; then
  mkdir "$scratch/cut"
  cp "$stagefile" "$scratch/cut/"
  (cd "$scratch/cut" && "$replay" --cut game "$root/data/tarmik.demo" < /dev/null > /dev/null 2>&1)
  demo=$scratch/cut/game-1.demo
fi
servers=()
postmaster=
cleanup() {
  for p in "${servers[@]}"; do kill "$p" 2> /dev/null || true; done
  for p in "${servers[@]}"; do wait "$p" 2> /dev/null || true; done
  [ -z "$postmaster" ] || kill -QUIT "$postmaster" 2> /dev/null || true
  sleep 0.5
  rm -rf "$scratch"
}
trap cleanup EXIT

# PostgreSQL refuses root: as nobody then, in a folder of its own.
as_db_user=()
[ "$(id -u)" != 0 ] || as_db_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)

start_postgres() {
  [ -x "$pg_bin/postgres" ] || { echo "PostgreSQL 15 is not installed (scripts/setup test)" >&2; exit 1; }
  local dir=$scratch/pg
  mkdir "$dir"
  [ "$(id -u)" != 0 ] || chown nobody:nogroup "$dir"
  "${as_db_user[@]}" "$pg_bin/initdb" -D "$dir/data" -U tarmik --auth=trust --encoding=UTF8 \
    --locale=C.UTF-8 --no-instructions > "$dir/initdb.log"
  for _ in 1 2 3 4 5; do
    pg_port=$((20000 + RANDOM % 30000))
    "${as_db_user[@]}" "$pg_bin/postgres" -D "$dir/data" -p "$pg_port" -c listen_addresses=127.0.0.1 \
      -c unix_socket_directories= > "$dir/log" 2>&1 &
    postmaster=$!
    for _ in $(seq 1 100); do
      "$pg_bin/pg_isready" -q -h 127.0.0.1 -p "$pg_port" && break
      kill -0 "$postmaster" 2> /dev/null || break
      sleep 0.1
    done
    "$pg_bin/pg_isready" -q -h 127.0.0.1 -p "$pg_port" && break
    postmaster=
  done
  [ -n "$postmaster" ] || { cat "$dir/log" >&2; exit 1; }
  "$pg_bin/psql" -q -h 127.0.0.1 -p "$pg_port" -U tarmik -d postgres -c 'CREATE DATABASE tarmik'
  db_url=postgresql://tarmik@127.0.0.1:$pg_port/tarmik
}

# start_server NAME [OPTIONS...]: its base URL in $base, its pid added to $servers.
start_server() {
  local name=$1
  shift
  mkdir -p "$scratch/$name"
  "$build/server/tarmik-server" --listen 127.0.0.1:0 --data "$scratch/$name" \
    --stages "$stagefile" --replay "$replay" --submit-rate 1e9 --submit-burst 1e9 \
    --request-rate 1e9 --request-burst 1e9 --queue 1000 "$@" \
    > "$scratch/$name.out" 2> "$scratch/$name.log" &
  servers+=($!)
  for _ in $(seq 1 100); do
    grep -q 'listening on' "$scratch/$name.out" && break
    sleep 0.1
  done
  base=$(grep -o 'http://127.0.0.1:[0-9]*' "$scratch/$name.out") ||
    { cat "$scratch/$name.log" >&2; exit 1; }
}

stop_servers() {
  for p in "${servers[@]}"; do kill "$p"; done
  for p in "${servers[@]}"; do wait "$p" || true; done
  servers=()
}

# CPU ticks of a process and its threads (own) and of its children it has reaped (children).
ticks() { awk '{print $14 + $15, $16 + $17}' "/proc/$1/stat"; }
# CPU ticks of the database: the postmaster, its live processes and those ended.
db_ticks() {
  [ -n "$postmaster" ] || { echo 0; return; }
  local sum own children
  read -r own children < <(ticks "$postmaster")
  sum=$((own + children))
  for p in $(ps -o pid= --ppid "$postmaster"); do
    read -r own _ < <(ticks "$p" 2> /dev/null || echo "0 0")
    sum=$((sum + own))
  done
  echo $sum
}

# load TITLE SCRIPT WRK_OPTIONS PATH [ENV=VALUE...]: wrk on each server at once, the
# connections split between them; prints wrk's report, the total rate and the CPU seconds.
load() {
  local title=$1 script=$2 opts=$3 path=$4
  shift 4
  local n=${#urls[@]} i t0 t1 d0 d1 s0=() s1=() wrk_cpu
  echo "== $title: wrk $opts -d${secs}s -s $(basename "$script") (each of $n server(s)) $path"
  d0=$(db_ticks)
  for p in "${servers[@]}"; do s0+=("$(ticks "$p")"); done
  t0=$(date +%s.%N)
  local TIMEFORMAT='%U %S' wrks=()
  for i in $(seq 0 $((n - 1))); do
    # shellcheck disable=SC2086
    { time env "$@" SALT="$i" LIMIT="$limit" wrk $opts -d"${secs}s" --timeout 20s \
      -s "$script" "${urls[$i]}$path" > "$scratch/wrk$i" 2>&1; } 2> "$scratch/wrk$i.cpu" &
    wrks+=($!)
  done
  wait "${wrks[@]}"
  t1=$(date +%s.%N)
  d1=$(db_ticks)
  for p in "${servers[@]}"; do s1+=("$(ticks "$p")"); done
  local total=0
  for i in $(seq 0 $((n - 1))); do
    cat "$scratch/wrk$i"
    total=$(awk -v a="$total" '/^Requests\/sec:/ {print a + $2}' "$scratch/wrk$i")
  done
  wrk_cpu=$(cat "$scratch"/wrk*.cpu | awk '{s += $1 + $2} END {printf "%.1f", s}')
  local own=0 replays=0 a b c e
  for i in "${!servers[@]}"; do
    read -r a b <<< "${s0[$i]}"
    read -r c e <<< "${s1[$i]}"
    own=$((own + c - a))
    replays=$((replays + e - b))
  done
  awk -v t0="$t0" -v t1="$t1" -v total="$total" -v own="$own" -v rep="$replays" \
    -v db=$((d1 - d0)) -v w="$wrk_cpu" -v hz="$tick" -v cores="$cores" -v note="$note" 'BEGIN {
      wall = t1 - t0
      printf "-> %.1f requests/s in all; CPU seconds in %.1f s on %d cores (%.1f): replays %.1f, servers %.1f%s, database %.1f, wrk %s\n",
        total, wall, cores, wall * cores, rep / hz, own / hz, note, db / hz, w }'
  rm -f "$scratch"/wrk*
}

run() {
  local setup=$1 stored
  case $setup in
  sqlite)
    start_server sqlite
    urls=("$base")
    note=" (with SQLite in them)"
    ;;
  postgresql | two)
    note=
    [ -n "$postmaster" ] || start_postgres
    "$pg_bin/psql" -q -h 127.0.0.1 -p "$pg_port" -U tarmik -d tarmik \
      -c 'DROP TABLE IF EXISTS demos, games, schema_version' 2> /dev/null
    start_server pg-a --db "$db_url"
    urls=("$base")
    if [ "$setup" = two ]; then
      start_server pg-b --db "$db_url"
      urls+=("$base")
    fi
    ;;
  esac
  echo
  echo "#### $setup: ${#urls[@]} server(s), replay tool $replay, $cores cores"
  # 4 connections for submissions, 8 for reads, split between the servers; wrk on 2 threads.
  local per=$((4 / ${#urls[@]})) reads=$((8 / ${#urls[@]})) threads=$((2 / ${#urls[@]}))
  load "verified submissions" "$(dirname "$0")/submit.lua" "-t$threads -c$per" /api/games \
    STAGES="$stages" DEMO="$demo"
  if [ "$setup" = sqlite ]; then
    stored=$(sqlite3 "$scratch/sqlite/tarmik.sqlite3" 'SELECT COUNT(*) FROM games')
  else
    stored=$("$pg_bin/psql" -qtA -h 127.0.0.1 -p "$pg_port" -U tarmik -d tarmik \
      -c 'SELECT COUNT(*) FROM games')
  fi
  echo "games stored: $stored"
  load "ranking reads" "$(dirname "$0")/read.lua" "-t$threads -c$reads --latency" /api/ranking
  stop_servers
}

case $what in
all) for s in sqlite postgresql two; do run $s; done ;;
sqlite | postgresql | two) run "$what" ;;
*) echo "usage: server/bench/bench.sh [sqlite|postgresql|two|all]" >&2; exit 2 ;;
esac
