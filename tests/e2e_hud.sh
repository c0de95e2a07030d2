# The window texts of every phase, at 500 x 500 and at 1000 x 1000, where they belong:
# frames from the scripted driver, each text looked for as dark pixels at its place.
. "$(dirname "$0")/e2elib.sh"
SIM=$BUILD_DIR/tools/tarmik-sim
cat > "$WORK/game/stagefile.txt" <<'STAGES'
1
mato 1  100 0 100  1 1 1  0 0 0  0 0 0  10 0 0
STAGES
# ink FILE X Y: share of text-dark pixels (all channels below 40) in a 48 x 14 box at (X, Y).
ink() {
  convert "$1" -crop "48x14+$2+$3" +repage -fx 'r<0.16&&g<0.16&&b<0.16' -format '%[fx:mean]' info:
}
expect_text() { # FILE X Y WHAT
  local s; s=$(ink "$1" "$2" "$3")
  awk -v s="$s" 'BEGIN{exit !(s > 0.04)}' || fail "$4: no text at ($2, $3) in $(basename "$1") ($s)"
  s=$(ink "$1" $(( $2 - 52 )) "$3")
  awk -v s="$s" 'BEGIN{exit !(s < 0.01)}' || fail "$4: text left of ($2, $3) in $(basename "$1") ($s)"
}
frames() { # SIZE
  cat > "$WORK/game/hud.sim" <<SIM
resize $1 $1
frame
png $WORK/title-$1.png
key s
frame
tick 2
png $WORK/intro-$1.png
tick 40
png $WORK/play-$1.png
tick 1200
png $WORK/over-$1.png
SIM
  (cd "$WORK/game" && printf '1\n' | "$SIM" hud.sim > /dev/null) || fail "driver failed at $1"
  for f in title intro play over; do cp "$WORK/$f-$1.png" "$SHOTS/hud-$f-$1.png"; done
}
frames 500
expect_text "$WORK/title-500.png" 178 175 "start"
expect_text "$WORK/title-500.png" 178 225 "ranking"
expect_text "$WORK/title-500.png" 178 275 "quit"
expect_text "$WORK/intro-500.png" 200 89 "energy"
expect_text "$WORK/intro-500.png" 200 166 "stage"
expect_text "$WORK/intro-500.png" 200 416 "limit"
expect_text "$WORK/play-500.png" 200 416 "limit"
expect_text "$WORK/over-500.png" 125 125 "score"
expect_text "$WORK/over-500.png" 125 166 "title"
expect_text "$WORK/over-500.png" 125 200 "place"
expect_text "$WORK/over-500.png" 125 250 "hit rate"
expect_text "$WORK/over-500.png" 166 333 "continue"
s=$(ink "$WORK/play-500.png" 200 166)
awk -v s="$s" 'BEGIN{exit !(s < 0.01)}' || fail "stage line still shown after the intro"
frames 1000
expect_text "$WORK/title-1000.png" 357 350 "start"
expect_text "$WORK/title-1000.png" 357 450 "ranking"
expect_text "$WORK/title-1000.png" 357 550 "quit"
expect_text "$WORK/intro-1000.png" 400 178 "energy"
expect_text "$WORK/intro-1000.png" 400 333 "stage"
expect_text "$WORK/intro-1000.png" 400 833 "limit"
expect_text "$WORK/over-1000.png" 250 250 "score"
expect_text "$WORK/over-1000.png" 250 333 "title"
expect_text "$WORK/over-1000.png" 250 400 "place"
expect_text "$WORK/over-1000.png" 250 500 "hit rate"
expect_text "$WORK/over-1000.png" 333 666 "continue"
echo "hud test passed"
