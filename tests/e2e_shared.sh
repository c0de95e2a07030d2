# The shared ranking from the player's side: with server and player in the settings, a game
# played to its end in the window is sent to a real server on loopback, which replays it; the
# place it answers shows on the console and in the window, and the server ranks the player
# with the score the game itself entered in ranking.dat.
. "$(dirname "$0")/e2elib.sh"
server=$BUILD_DIR/server/tarmik-server
replay=$BUILD_DIR/tools/tarmik-replay
[ -x "$server" ] && [ -x "$replay" ] || { echo "skipped: no server in this build"; exit 77; }
# One stage, its target under the sight: the first shot clears it, and with it the game.
cat > "$WORK/game/stagefile.txt" << 'STAGES'
1
mato 1  0 0 0  1 1 1  0 0 0  0 0 0  10 0 0
STAGES
rm -f "$WORK/game/ranking.dat"
# Sanitizers reserve more address space than a replay may have.
caps=()
grep -q '^TARMIK_SANITIZE:BOOL=ON' "$BUILD_DIR/CMakeCache.txt" 2> /dev/null && caps=(--replay-memory 0)
"$server" --listen 127.0.0.1:0 --data "$WORK/server" --stages "$WORK/game/stagefile.txt" \
  --replay "$replay" "${caps[@]}" > "$WORK/server.out" 2> "$WORK/server.err" &
server_pid=$!
trap 'kill $server_pid 2> /dev/null || true; cleanup' EXIT
for _ in $(seq 1 100); do
  grep -q 'listening on' "$WORK/server.out" && break
  kill -0 $server_pid 2> /dev/null || fail "the server did not start: $(cat "$WORK/server.err")"
  sleep 0.1
done
port=$(grep -o 'http://127.0.0.1:[0-9]*' "$WORK/server.out" | cut -d: -f3)
[ -n "$port" ] || fail "the server did not say where it listens"

# The name as a player would write it in the file, UTF-8.
printf 'server = http://127.0.0.1:%s/\nplayer = テスター\n' "$port" > "$WORK/tarmik.conf"
start_game '' --play --config "$WORK/tarmik.conf"
sleep 0.5
focus
xdotool key s
sleep 0.5
xdotool click 1
wait_console "共有ランキング：1位" 15 ||
  fail "no place from the shared ranking: $(iconv -f CP932 -t UTF-8 "$WORK/out.txt"; cat "$WORK/server.err")"
sleep 0.3
import -window "$WIN" "$WORK/placed.png"
cp "$WORK/placed.png" "$SHOTS/shared-placed.png"
# The notice is the newest of the white lines at the top left.
white=$(convert "$WORK/placed.png" -crop 440x80+4+4 +repage -fx 'r>0.99&&g>0.99&&b>0.99' \
  -format '%[fx:int(mean*w*h+0.5)]' info:)
[ "$white" -gt 100 ] || fail "no notices in the window ($white pixels)"
focus
xdotool key q
st=$(wait_status)
[ "$st" = 0 ] || fail "q did not end the game ($st): $(tail -n 20 "$WORK/err.txt")"

# What the game entered, and what the server ranked from its own replay.
score=$(cut -f1 "$WORK/game/ranking.dat" | head -n 1)
[ -n "$score" ] && [ "$score" -gt 0 ] || fail "no result in ranking.dat"
console_has "共有ランキング：1位　${score}点" || fail "the notice does not give the game's score $score"
hash=$(sha256sum "$WORK/game/stagefile.txt" | cut -d' ' -f1)
exec 3<> "/dev/tcp/127.0.0.1/$port"
printf 'GET /api/ranking?stages=%s&limit=5 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' "$hash" >&3
answer=$(timeout 10 cat <&3)
exec 3>&-
[[ $answer == *'"player":"テスター"'* && $answer == *"\"score\":$score,"* ]] ||
  fail "the server's ranking: $answer"
echo "shared ranking test passed (score $score)"
