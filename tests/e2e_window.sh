# The game window: title, size, the lit checkerboard and the title line, then q ends with 0;
# a window destroyed by another program ends it with 0 too.
. "$(dirname "$0")/e2elib.sh"
start_game $'1\n'
sleep 1.5
geo=$(xwininfo -id "$WIN" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w"x"h}')
[ "$geo" = "500x500" ] || fail "window is $geo"
name=$(xprop -id "$WIN" _NET_WM_NAME)
[ "$name" = '_NET_WM_NAME(UTF8_STRING) = "ＴＡＲＭＩＫ"' ] || fail "title: $name"
import -window "$WIN" "$SHOTS/window.png"
p=$(pixel "$SHOTS/window.png" 270 270); near "$p" 238 255 61 8 || fail "square at +x+z is $p"
p=$(pixel "$SHOTS/window.png" 310 270); near "$p" 212 212 86 8 || fail "square towards +x is $p"
p=$(pixel "$SHOTS/window.png" 270 310); near "$p" 212 212 86 8 || fail "square towards +z is $p"
# Squares of 5 units are about 38.7 pixels: the far corner is again the first colour.
p=$(pixel "$SHOTS/window.png" 330 330); near "$p" 238 255 61 8 || fail "diagonal square is $p"
# The title line: black glyphs from about (142, 83), six characters of 30 pixels.
share=$(dark_share "$SHOTS/window.png" 180 30 142 83)
awk -v s="$share" 'BEGIN{exit !(s > 0.08 && s < 0.6)}' || fail "title line dark share $share"
share=$(dark_share "$SHOTS/window.png" 100 60 0 0)
awk -v s="$share" 'BEGIN{exit !(s == 0)}' || fail "stray dark pixels in the corner: $share"
xdotool windowfocus --sync "$WIN"; xdotool key q
st=$(wait_status)
GAME_PID=
[ "$st" = 0 ] || fail "q ended with $st"
# The window destroyed by another program ends the game as closing it does.
start_game $'1\n'
sleep 1
xdotool windowclose "$WIN"
st=$(wait_status)
[ "$st" = 0 ] || fail "the destroyed window left the game with $st"
GAME_PID=
echo "window test passed"
