# The pointer with real input: moves sent back to back in one xdotool call (as a fast mouse
# queues them) pan as exactly as moves sent one by one, and each shot hits the target placed
# where exact panning leads; while a game is played the pointer cannot leave the window, and
# it is free on the title screen, after the game is over and when the window loses the focus.
. "$(dirname "$0")/e2elib.sh"
# The eye after each step, 0.1 units a pixel: (0, -12), (-13, -17), (-13, -5), (-26, -10),
# then the 700-pixel move right stops at the window's edge, 249 pixels from its centre.
cat > "$WORK/game/stagefile.txt" <<'STAGES'
1
mato 1    0 0 -12  0.5 0.5 0.5  0 0 0  0 0 0  10 0 0
1
mato 1  -13 0 -17  0.5 0.5 0.5  0 0 0  0 0 0  10 0 0
1
mato 1  -13 0  -5  0.5 0.5 0.5  0 0 0  0 0 0  10 0 0
1
mato 1  -26 0 -10  0.5 0.5 0.5  0 0 0  0 0 0  10 0 0
1
mato 1 -1.1 0 -10  0.5 0.5 0.5  0 0 0  0 0 0  10 0 0
STAGES
count() { iconv -f CP932 -t UTF-8 "$WORK/out.txt" | grep -cF "$1" || true; }
# shoot N WHAT: fires, then waits for the N-th hit and stage clear.
shoot() {
  sleep 0.3
  xdotool click 1
  for _ in $(seq 1 30); do
    [ "$(count ステージクリア)" -ge "$1" ] && [ "$(count ヒット)" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "$2: the shot missed"
}
pointer_x() { xdotool getmouselocation | sed 's/^x:\([0-9]*\) .*/\1/'; }
inside() { local x; x=$(pointer_x); [ "$x" -ge 1 ] && [ "$x" -le 500 ]; }

start_game $'1\n'
sleep 1
focus
xdotool mousemove 251 251
sleep 0.2
xdotool mousemove_relative 700 0
sleep 0.3
inside && fail "the pointer is held on the title screen ($(pointer_x))"
xdotool mousemove 251 251
sleep 0.2
xdotool key s
sleep 0.5
xdotool mousemove_relative 1 0 # the first motion of a game only marks where the pointer is
sleep 0.3

burst=()
for _ in $(seq 1 40); do burst+=(mousemove_relative -- 0 -3); done
xdotool "${burst[@]}"
shoot 1 "40 moves of 3 pixels up in one burst"
xdotool mousemove_relative -- 10 10 mousemove_relative -- -140 -60
shoot 2 "(+10, +10) then (-140, -60) in one burst"
for _ in $(seq 1 40); do xdotool mousemove_relative -- 0 3; sleep 0.1; done
shoot 3 "40 moves of 3 pixels down one by one"
xdotool mousemove_relative -- 10 10; sleep 0.1; xdotool mousemove_relative -- -140 -60
shoot 4 "(+10, +10) then (-140, -60) one by one"

xdotool mousemove_relative 700 0
sleep 0.3
inside || fail "a 700-pixel move took the pointer out of the window ($(pointer_x))"
# The last stage cleared: the game is over and the pointer free.
shoot 5 "the view after the 700-pixel move"
sleep 0.3
xdotool mousemove_relative 700 0
sleep 0.3
inside && fail "the pointer is held after the game is over ($(pointer_x))"

# A new game holds it again, until the window loses the focus.
xdotool mousemove 251 251
sleep 0.2
xdotool key y
sleep 0.5
xdotool mousemove_relative 700 0
sleep 0.3
inside || fail "the pointer is not held in a new game ($(pointer_x))"
xdotool windowfocus "$(xwininfo -root | awk '/Window id:/{print $4}')"
sleep 0.4
xdotool mousemove_relative 700 0
sleep 0.3
inside && fail "the pointer is held after the window lost the focus ($(pointer_x))"
focus
xdotool key q
[ "$(wait_status)" = 0 ] || fail "q did not end the game"
GAME_PID=
echo "pointer test passed"
