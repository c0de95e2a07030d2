# Shooting and panning with real input: a click hits the target under the eye, the stage is
# cleared and the next one loads; mouse motion slides the ground 0.1 units per pixel.
. "$(dirname "$0")/e2elib.sh"
cat > "$WORK/game/stagefile.txt" <<'STAGES'
# a target under the starting eye
1
mato 1  0 0 0  1 1 1  0 0 0  0 0 0  10 0 0
# far away
1
mato 1  100 0 100  1 1 1  0 0 0  0 0 0  10 0 0
STAGES
start_game $'1\n'
sleep 1
focus
xdotool key s
sleep 0.5
xdotool click 1
wait_console "ヒット" 5 || fail "no hit announced"
wait_console "ステージクリア" 5 || fail "no stage clear"
hit_line=$(iconv -f CP932 -t UTF-8 "$WORK/out.txt" | grep -nF "ヒット" | cut -d: -f1)
clear_line=$(iconv -f CP932 -t UTF-8 "$WORK/out.txt" | grep -nF "ステージクリア" | cut -d: -f1)
[ "$hit_line" -lt "$clear_line" ] || fail "clear before hit"
sleep 0.4
import -window "$WIN" "$SHOTS/shoot-next-stage.png"
# The next stage's target is far away: nothing dark under the crosshair any more.
share=$(dark_share "$SHOTS/shoot-next-stage.png" 20 20 240 240)
awk -v s="$share" 'BEGIN{exit !(s < 0.3)}' || fail "target still under the crosshair ($share)"

# Panning: a first motion only takes the reference point, then 30 pixels to the right
# (less than half the checkerboard's period of 77 pixels, so the shift is unambiguous).
xdotool mousemove_relative 3 0
sleep 0.3
import -window "$WIN" "$SHOTS/pan-before.png"
xdotool mousemove_relative 30 0
sleep 0.4
import -window "$WIN" "$SHOTS/pan-after.png"
# The ground moves left by 3 world units, about 23 pixels: find the shift that fits best.
row "$SHOTS/pan-before.png" 230 > "$WORK/a.txt"
row "$SHOTS/pan-after.png" 230 > "$WORK/b.txt"
best=$(awk 'NR==FNR{a[FNR-1]=$0; next} {b[FNR-1]=$0}
  END{best=-1; bestd=1e18
    for (s=0; s<=36; s++) { d=0
      for (x=150; x<350; x++) { split(a[x],p," "); split(b[x-s],q," ")
        d += (p[1]-q[1])^2 + (p[2]-q[2])^2 + (p[3]-q[3])^2 }
      if (d < bestd) { bestd=d; best=s } }
    print best}' "$WORK/a.txt" "$WORK/b.txt")
[ "$best" -ge 21 ] && [ "$best" -le 25 ] || fail "ground moved $best pixels, expected about 23"
echo "shoot and pan test passed (ground moved $best px)"
