# Sound in the whole game, through SDL's disk audio driver: start-up plays the music; a shot
# plays shot.wav and the hit cuts it off with ata.wav; with no audio device the game plays on
# in silence and nothing is printed.
. "$(dirname "$0")/e2elib.sh"
cat > "$WORK/game/stagefile.txt" <<'STAGES'
# a target under the starting eye
1
mato 1  0 0 0  1 1 1  0 0 0  0 0 0  10 0 0
# far away
1
mato 1  100 0 100  1 1 1  0 0 0  0 0 0  10 0 0
STAGES

# left RAW: the left channel of the written 16-bit stereo samples, one a line.
left() { od -An -v -t d2 -w4 "$1" | awk '{print $1}'; }
# wave WAV: the samples of one of our mono 16-bit WAVE files (44-byte header).
wave() { od -An -v -t d2 -w2 -j 44 "$1" | awk '{print $1}'; }
# rms FILE FROM COUNT: root mean square of lines FROM+1 .. FROM+COUNT.
rms() { awk -v a="$2" -v n="$3" 'NR>a && NR<=a+n {s+=$1*$1; c++} END{print (c ? int(sqrt(s/c)) : 0)}' "$1"; }
# find_start WANT OUT FROM: where the first 50 ms of WANT begin in OUT, or -1. Mixing turns
# the mono effects into stereo through float, so a sample may be a step or two off.
find_start() {
  awk -v from="$3" 'NR==FNR {w[FNR-1]=$1; wn=FNR; next} {o[FNR-1]=$1; on=FNR}
    END { n = wn < 2205 ? wn : 2205
      for (i = from; i + n <= on; i++) { ok = 1
        for (j = 0; j < n; j++) { d = o[i+j] - w[j]; if (d > 4 || d < -4) { ok = 0; break } }
        if (ok) { print i; exit } }
      print -1 }' "$1" "$2"
}
# matches WANT OUT AT FROM COUNT: OUT from AT holds WANT's samples FROM .. FROM+COUNT-1.
matches() {
  awk -v at="$3" -v from="$4" -v n="$5" 'NR==FNR {w[FNR-1]=$1; wn=FNR; next} {o[FNR-1]=$1; on=FNR}
    END { if (at + n > on || from + n > wn) exit 1
      for (j = 0; j < n; j++) { d = o[at+j] - w[from+j]; if (d > 4 || d < -4) exit 1 } }' "$1" "$2"
}
quit_game() {
  focus
  xdotool key q
  st=$(wait_status)
  GAME_PID=
  [ "$st" = 0 ] || fail "q ended with $st"
  rm -f "$WORK/status"
}

export SDL_AUDIODRIVER=disk
wave "$WORK/game/shot.wav" > "$WORK/shot.txt"
wave "$WORK/game/ata.wav" > "$WORK/ata.txt"

# 1. The music plays from start-up on, while the console menu still waits.
export SDL_DISKAUDIOFILE=$WORK/music.raw
start_game $'1\n'
sleep 2
quit_game
[ -s "$WORK/err.txt" ] && fail "printed: $(cat "$WORK/err.txt")"
left "$WORK/music.raw" > "$WORK/music.txt"
frames=$(wc -l < "$WORK/music.txt")
[ "$frames" -gt 44100 ] || fail "only $frames frames of audio in two seconds"
loud=$(rms "$WORK/music.txt" 4410 44100)
[ "$loud" -gt 500 ] || fail "no music in the first second (rms $loud)"

# 2. Without the music file the effects are alone in the output and can be told apart:
#    the shot starts, the hit a few ticks later takes over the channel.
rm "$WORK/game/bgm.mid"
export SDL_DISKAUDIOFILE=$WORK/shots.raw
start_game $'1\n'
sleep 1
focus
xdotool key s
sleep 0.5
xdotool click 1
wait_console "ヒット" 5 || fail "no hit announced"
sleep 1
quit_game
[ -s "$WORK/err.txt" ] && fail "printed: $(cat "$WORK/err.txt")"
left "$WORK/shots.raw" > "$WORK/shots.txt"
s=$(find_start "$WORK/shot.txt" "$WORK/shots.txt" 0)
[ "$s" -ge 0 ] || fail "shot.wav not heard"
quiet=$(rms "$WORK/shots.txt" 0 "$s")
[ "$quiet" -eq 0 ] || fail "sound before the shot without music (rms $quiet)"
t=$(find_start "$WORK/ata.txt" "$WORK/shots.txt" $((s + 1)))
[ "$t" -gt "$s" ] || fail "ata.wav not heard after the shot"
heard=$((t - s))
shot_len=$(wc -l < "$WORK/shot.txt")
ata_len=$(wc -l < "$WORK/ata.txt")
[ "$heard" -lt "$shot_len" ] || fail "the hit came after the shot had ended ($heard frames)"
matches "$WORK/shot.txt" "$WORK/shots.txt" "$s" 0 "$heard" || fail "shot.wav not as written"
matches "$WORK/ata.txt" "$WORK/shots.txt" "$t" 0 "$ata_len" || fail "the hit is mixed with the rest of the shot"

# 3. The volume settings: the music at half, the effects silenced.
printf 'music-volume = 50\n' > "$WORK/half.conf"
export SDL_DISKAUDIOFILE=$WORK/half.raw
cp "$GAME_DIR/bgm.mid" "$WORK/game/"
start_game $'1\n' --config "$WORK/half.conf"
sleep 2
quit_game
left "$WORK/half.raw" > "$WORK/half.txt"
half=$(rms "$WORK/half.txt" 4410 44100)
awk -v h="$half" -v f="$loud" 'BEGIN { exit !(h > 0.3 * f && h < 0.7 * f) }' ||
  fail "music-volume = 50 played at rms $half against $loud"
printf 'effects-volume = 0\n' > "$WORK/mute.conf"
rm "$WORK/game/bgm.mid"
export SDL_DISKAUDIOFILE=$WORK/mute.raw
start_game $'1\n' --config "$WORK/mute.conf"
sleep 1
focus
xdotool key s
sleep 0.5
xdotool click 1
wait_console "ヒット" 5 || fail "no hit with the effects silenced"
sleep 1
quit_game
left "$WORK/mute.raw" > "$WORK/mute.txt"
[ "$(rms "$WORK/mute.txt" 0 10000000)" = 0 ] || fail "effects-volume = 0 still plays the effects"

# 4. No audio device: the game starts, shoots and hits as before, silent; standard error says so
# once and the console's bytes are untouched.
cp "$GAME_DIR/bgm.mid" "$WORK/game/"
export SDL_AUDIODRIVER=tarmik-none
export SDL_DISKAUDIOFILE=$WORK/none.raw
: > "$WORK/out.txt"
start_game $'1\n'
sleep 1
focus
xdotool key s
sleep 0.5
xdotool click 1
wait_console "ヒット" 5 || fail "no hit without audio"
wait_console "ステージクリア" 5 || fail "no stage clear without audio"
quit_game
[ "$(grep -c 'no sound device' "$WORK/err.txt")" = 1 ] && [ "$(wc -l < "$WORK/err.txt")" = 1 ] ||
  fail "no single notice without audio: $(cat "$WORK/err.txt")"
grep -q 'sound' "$WORK/out.txt" && fail "the notice reached the console"
[ -e "$WORK/none.raw" ] && fail "audio written without a device"
echo "sound test passed (shot heard for $heard frames before the hit; music at half: rms $half of $loud)"
