# A whole game with real input: s, shots until the energy is spent, game over within a few
# seconds, the result in ranking.dat, r lists it, y starts a new game.
. "$(dirname "$0")/e2elib.sh"
cat > "$WORK/game/stagefile.txt" <<'STAGES'
1
mato 1  100 0 100  1 1 1  0 0 0  0 0 0  10 0 0
STAGES
start_game $'1\n'
sleep 1
focus
xdotool key s
sleep 0.4
for _ in $(seq 1 10); do xdotool click 1; sleep 0.05; done
# With no shots left the limit drains 51 a tick: about two seconds to game over.
import -window "$WIN" "$SHOTS/flow-spent.png"
for _ in $(seq 1 60); do [ -s "$WORK/game/ranking.dat" ] && break; sleep 0.1; done
[ -s "$WORK/game/ranking.dat" ] || fail "no result in ranking.dat"
expected=$(printf '0\t\t0\t0\t'; printf 'ロケット花火' | iconv -t CP932; printf '\nx')
[ "$(cat "$WORK/game/ranking.dat"; printf x)" = "$expected" ] || fail "ranking.dat: $(od -c "$WORK/game/ranking.dat" | head -3)"
sleep 0.3
import -window "$WIN" "$SHOTS/flow-gameover.png"
p=$(pixel "$SHOTS/flow-gameover.png" 5 5)
near "$p" 0 51 0 20 && fail "scope still drawn after game over"
xdotool key r
wait_console "1位　0点　ステージ0クリア　命中率0％　称号ロケット花火" 3 || fail "r did not list the result"
xdotool key y
sleep 0.5
import -window "$WIN" "$SHOTS/flow-new-game.png"
p=$(pixel "$SHOTS/flow-new-game.png" 5 5)
near "$p" 0 51 0 20 || fail "no scope in the new game ($p)"
[ "$(wc -l < "$WORK/game/ranking.dat")" = 1 ] || fail "result entered more than once"
focus
xdotool key Escape
st=$(wait_status)
GAME_PID=
[ "$st" = 0 ] || fail "Esc ended with $st"
echo "flow test passed"
