# The console's notices and the ranking in the window, as --play turns them on: the notice
# lines at the top left from the start, gone after some seconds; r shows the ranking as a
# table (a row for each result, the title line kept off it) until the next key; a hit shows
# ヒット. Started without options, the window shows none of it.
. "$(dirname "$0")/e2elib.sh"
cat > "$WORK/game/stagefile.txt" <<'STAGES'
1
mato 1  0 0 0  1 1 1  0 0 0  0 0 0  10 0 0
1
mato 1  100 0 100  1 1 1  0 0 0  0 0 0  10 0 0
STAGES
printf '900\t\t3\t60\tBAT\n300\t\t1\t20\tテポドン\n120\t\t1\t2\tＶ２\n' | iconv -f UTF-8 -t CP932 > "$WORK/game/ranking.dat"

shot() { import -window "$WIN" "$WORK/$1.png"; cp "$WORK/$1.png" "$SHOTS/messages-$1.png"; }
# count FILE WxH+X+Y FX: the pixels of the box for which FX holds.
count() { convert "$1" -crop "$2" +repage -fx "$3" -format '%[fx:int(mean*w*h+0.5)]' info:; }
notice='r>0.99&&g>0.99&&b>0.99'          # the notices: white
table='g>0.95&&b>0.55&&b<0.9'              # the table's text: light green and pale yellow
panel='r<0.05&&g>0.09&&g<0.15&&b<0.05'    # the table's dark panel
dark='r<0.16&&g<0.16&&b<0.16'
# until_shot NAME BOX FX OP VALUE: the window shot again, for up to five seconds, until the
# count of the box is OP VALUE (a loaded machine may take a while to draw the next frame).
until_shot() {
  for _ in $(seq 1 25); do
    shot "$1"
    [ "$(count "$WORK/$1.png" "$2" "$3")" "$4" "$5" ] && return 0
    sleep 0.2
  done
  return 1
}

start_game '' --play
until_shot start 440x60+4+4 "$notice" -gt 300 || fail "no notice lines at the start"

# r on the title screen: the table, a heading and a row for each of the three results.
focus
xdotool key r
until_shot table 420x70+40+20 "$panel" -gt 5000 || fail "no panel for the table"
for row in 0 1 2 3; do
  y=$((14 + 18 * row))
  [ "$(count "$WORK/table.png" 400x14+44+$y "$table")" -gt 40 ] || fail "no text in row $row of the table"
done
[ "$(count "$WORK/table.png" 400x20+44+92 "$panel")" = 0 ] || fail "the table has more than three rows"
[ "$(count "$WORK/table.png" 180x20+142+92 "$dark")" = 0 ] || fail "the title line is drawn over the table"
console_has '1位　900点' || fail "the listing left the console"
# The next key takes the table away, and the title line is back.
xdotool key x
until_shot untabled 420x70+40+20 "$panel" = 0 || fail "the table stays after a key"
until_shot untabled 180x30+142+83 "$dark" -gt 200 || fail "no title line after the table"

# Four seconds on, the notices are gone.
sleep 3.5
until_shot later 440x60+4+4 "$notice" = 0 || fail "the notices stay"
# A hit: ヒット at the top left.
xdotool key s
sleep 0.5
xdotool click 1
wait_console "ヒット" 5 || fail "no hit"
until_shot hit 60x18+4+4 "$notice" -gt 20 || fail "no ヒット in the window"
focus
xdotool key q
[ "$(wait_status)" = 0 ] || fail "q did not end the game"

# Without options: nothing of it.
start_game $'1\n'
sleep 0.5
focus
xdotool key r
sleep 0.3
shot plain-r
[ "$(count "$WORK/plain-r.png" 420x70+40+20 "$panel")" = 0 ] || fail "a table without --play"
[ "$(count "$WORK/plain-r.png" 440x60+4+4 "$notice")" = 0 ] || fail "notices without --play"
xdotool key s
sleep 0.5
xdotool click 1
wait_console "ヒット" 5 || fail "no hit without --play"
sleep 0.2
shot plain-hit
[ "$(count "$WORK/plain-hit.png" 60x18+4+4 "$notice")" = 0 ] || fail "ヒット in the window without --play"
focus
xdotool key q
[ "$(wait_status)" = 0 ] || fail "q did not end the plain game"
echo "messages test passed"
