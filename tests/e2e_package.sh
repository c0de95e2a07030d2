# The Debian package as a player gets it: made by CPack from this build, unpacked into a
# scratch root, started through its launcher from another folder with a HOME of its own.
# A game played to its end through --play leaves the ranking in the player's folder; a
# second game keeps it; --data plays in another folder. Options, window class, desktop entry
# and metainfo are checked on the way.
. "$(dirname "$0")/e2elib.sh"
unset XDG_DATA_HOME XDG_CONFIG_HOME

(cd "$BUILD_DIR" && cpack -G DEB -B "$WORK/pkg" > "$WORK/cpack.log" 2>&1) ||
  { cat "$WORK/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$WORK"/pkg/tarmik_*_amd64.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for need in libglut fonts-ipafont-gothic timgm6mb-soundfont libsdl2-mixer libfontconfig; do
  [[ $depends == *$need* ]] || fail "Depends lacks $need: $depends"
done
root=$WORK/root
dpkg-deb -x "$deb" "$root"
# The project's developers maintain it, in the control file and the changelog alike.
maintainer=$(dpkg-deb -f "$deb" Maintainer)
[[ $maintainer == "TARMIK developers <"*">" ]] || fail "Maintainer: $maintainer"
zgrep -qF -- " -- $maintainer  " "$root/usr/share/doc/tarmik/changelog.gz" || fail "changelog: $(zcat "$root/usr/share/doc/tarmik/changelog.gz")"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop entry"
# The desktop's menu starts the game without a terminal.
entry=$(ls "$root"/usr/share/applications/*.desktop)
grep -qx 'Terminal=false' "$entry" || fail "the desktop entry wants a terminal"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[ "${exec_line%% *}" = tarmik ] || fail "the desktop entry runs $exec_line"
exec_args=${exec_line#tarmik}
appstreamcli validate --no-net --pedantic "$root"/usr/share/metainfo/*.metainfo.xml > "$WORK/as.log" ||
  { cat "$WORK/as.log" >&2; fail "metainfo"; }
[ -f "$root/usr/share/man/man6/tarmik.6.gz" ] || fail "no man page"
[ -f "$root/usr/share/man/ja/man6/tarmik.6.gz" ] || fail "no Japanese man page"
[ -f "$root/usr/share/man/man6/tarmik-stage.6.gz" ] || fail "no man page for tarmik-stage"
for section in 'SH SETTINGS' 'SH TIME AND SCORING' 'SH SEE ALSO' 'F11'; do
  zgrep -q "$section" "$root/usr/share/man/man6/tarmik.6.gz" || fail "the man page has no $section"
done
zgrep -A1 'SH SEE ALSO' "$root/usr/share/man/man6/tarmik.6.gz" | grep -q 'tarmik\\-stage' || fail "SEE ALSO names no tarmik-stage"
# The players' documents, with the pictures they show.
doc=$root/usr/share/doc/tarmik
for f in playing.md stages.md behaviour.md screen-play.png stage-01.svg pattern-9.svg example.txt; do
  [ -f "$doc/$f" ] || fail "the package has no $f"
done
# The stage authors' tool reads the shipped stages.
[ "$("$root/usr/games/tarmik-stage" check "$root/usr/share/games/tarmik/stagefile.txt" | grep -c '^stage ')" = 14 ] ||
  fail "tarmik-stage does not check the shipped stages"

launcher=$root/usr/games/tarmik
export HOME=$WORK/home
player=$HOME/.local/share/tarmik
mkdir -p "$HOME" "$WORK/elsewhere"
cd "$WORK/elsewhere"

# Options: the version of the package, help, and one line with status 2 for a wrong option.
version=$("$launcher" --version)
[ "$version" = "tarmik $(dpkg-deb -f "$deb" Version)" ] || fail "--version: $version"
help=$("$launcher" --help)
[[ $help == *--play* && $help == *"$HOME/.local/share/tarmik"* ]] || fail "--help: $help"
# The keys and the settings, in the help too.
for word in "F11 or Alt+Enter" "q or Esc" "sensitivity = " "scale = " "$HOME/.config/tarmik/tarmik.conf"; do
  [[ $help == *"$word"* ]] || fail "--help says nothing of $word"
done
# --settings through the launcher, a --config counted from where the command is typed.
printf 'scale = 2\n' > "$WORK/elsewhere/my.conf"
settings=$("$launcher" --config my.conf --settings)
[[ $settings == *"scale = 2 "*"# $WORK/elsewhere/my.conf:1"* ]] || fail "--settings: $settings"
rm "$WORK/elsewhere/my.conf"
set +e
"$launcher" --no-such-option > "$WORK/o" 2> "$WORK/e" < /dev/null; st=$?
set -e
[ "$st" = 2 ] && [ ! -s "$WORK/o" ] && [ "$(wc -l < "$WORK/e")" = 1 ] ||
  fail "unknown option: status $st, $(cat "$WORK/e" "$WORK/o")"

# Names on the command line are the player's, relative to where the command was typed, and
# the launcher's own paths never reach a command as options. run_launcher ARGS...: status in
# ST, standard output in $WORK/o, standard error in $WORK/e; no console input.
run_launcher() {
  set +e
  "$launcher" "$@" > "$WORK/o" 2> "$WORK/e" < /dev/null
  ST=$?
  set -e
}
printf '# tarmik-demo 1 tarmik %s\nmenu 1\ntick 2\n' "$(dpkg-deb -f "$deb" Version)" > short.demo
run_launcher --timedemo short.demo
[ "$ST" = 0 ] && grep -q '^timedemo: 2 frames' "$WORK/e" || fail "--timedemo of a demo here: $ST $(cat "$WORK/e")"
run_launcher --record new.demo
[ -f new.demo ] && [ ! -e "$player/new.demo" ] || fail "--record new.demo was not written here"
run_launcher --record=other.demo
[ -f other.demo ] || fail "--record=NAME was not written here"
# The game's own files, also through a link into the installed data, are not recorded over.
installed=$root/usr/share/games/tarmik
printf '100\t\t1\t1\tKEEP\n' > "$player/ranking.dat"
before=$(cat "$player/ranking.dat" "$installed/tarmik.demo" | md5sum)
ln -s "$installed" "$WORK/shipped"
for target in "$player/tarmik.demo" "$player/ranking.dat" "$installed/new.demo" "$WORK/shipped/new.demo"; do
  run_launcher --record "$target"
  [ "$ST" = 2 ] && [ "$(wc -l < "$WORK/e")" = 1 ] || fail "--record $target: status $ST, $(cat "$WORK/e")"
done
(cd "$player" && run_launcher --record ranking.dat && [ "$ST" = 2 ]) || fail "--record ranking.dat in the player's folder"
[ "$(cat "$player/ranking.dat" "$installed/tarmik.demo" | md5sum)" = "$before" ] || fail "--record wrote the game's files"
[ ! -e "$installed/new.demo" ] || fail "--record wrote into the installed files"
rm "$player/ranking.dat" "$WORK/shipped"
# A value missing, or an option where it belongs, is one line and status 2.
for args in "--record --data" "--playdemo" "--data" "--record= --play"; do
  # shellcheck disable=SC2086
  run_launcher $args
  [ "$ST" = 2 ] && [ "$(wc -l < "$WORK/e")" = 1 ] && [ ! -s "$WORK/o" ] || fail "$args: status $ST, $(cat "$WORK/e")"
done
[ ! -e ./--data ] && [ ! -e "$player/--data" ] || fail "--record --data wrote a file"
# A relative XDG_DATA_HOME is not used; a HOME or XDG_DATA_HOME that starts with "-" is no option.
[[ $(XDG_DATA_HOME=rel "$launcher" --help) == *"$HOME/.local/share/tarmik"* ]] || fail "relative XDG_DATA_HOME used"
for env in "XDG_DATA_HOME=rel" "HOME=-dash" "XDG_DATA_HOME=-x"; do
  set +e
  env "$env" "$launcher" < /dev/null > "$WORK/o" 2> "$WORK/e"
  ST=$?
  set -e
  [ "$ST" = 255 ] && ! grep -q 'invalid option' "$WORK/e" || fail "$env: status $ST, $(cat "$WORK/e")"
done
[ -d "./-dash/.local/share/tarmik" ] || fail "HOME=-dash: no player's folder under it"
[ ! -e rel ] && [ ! -e ./-x ] || fail "a relative XDG_DATA_HOME made a folder"
rm -rf ./-dash new.demo other.demo short.demo

# The player's own stage file stays: one target under the eye, so the first shot clears the
# only stage and the game is over at once. (The shipped first stage has nothing there.) It
# replaces the link the launcher made, as the docs tell players to do.
mkdir -p "$player"
rm -f "$player/stagefile.txt"
printf '2\nmato 1  0 0 0  1 1 1  0 0 0  0 0 0  10 0 0\nbuilding 1  20 0 0  5 5 5  0 0 0  0 0 0  10 0 0\n' \
  > "$player/stagefile.txt"

# play_game RANKING ARGS...: starts the launcher with ARGS (no console input), starts a game,
# fires one shot, waits for RANKING to grow by one line, quits; the game must end with 0.
# CLASS gets the window's WM_CLASS.
play_game() {
  local ranking=$1 before=0 st
  shift
  [ -f "$ranking" ] && before=$(wc -l < "$ranking")
  rm -f "$WORK/status"
  ("$launcher" "$@" < /dev/null > "$WORK/out.txt" 2> "$WORK/err.txt" & echo $! > "$WORK/pid"
   wait $!; echo $? > "$WORK/status") &
  WIN=
  for _ in $(seq 1 300); do
    WIN=$(xdotool search --name 'ＴＡＲＭＩＫ' 2>/dev/null | head -n 1 || true)
    [ -n "$WIN" ] && break
    [ -f "$WORK/status" ] && fail "the game ($*) ended at once: $(cat "$WORK/err.txt")"
    sleep 0.1
  done
  [ -n "$WIN" ] || fail "no game window ($*): $(iconv -f CP932 -t UTF-8 "$WORK/out.txt"; cat "$WORK/err.txt"; xwininfo -root -tree)"
  sleep 0.5
  CLASS=$(xprop -id "$WIN" WM_CLASS 2>/dev/null || true)
  focus
  xdotool key s
  sleep 0.5
  xdotool mousemove --window "$WIN" 250 250 click 1
  for _ in $(seq 1 100); do
    [ -f "$ranking" ] && [ "$(wc -l < "$ranking")" -gt "$before" ] && break
    sleep 0.1
  done
  focus
  xdotool key q
  st=$(wait_status)
  [ "$st" = 0 ] || fail "the game ended with $st: $(cat "$WORK/err.txt")"
  [ -f "$ranking" ] || fail "no $ranking"
  [ "$(wc -l < "$ranking")" = $((before + 1)) ] || fail "$ranking: $(cat "$ranking")"
}

# shellcheck disable=SC2086 # the desktop entry's arguments, split as its launcher splits them
play_game "$player/ranking.dat" $exec_args
console_has 'ヒット' || fail "no hit on the console"
console_has 'ゲームを途中で終了するときは' || fail "--play skips the notice"
console_has '１：ゲームを開始する' && fail "--play shows the menu"
# One stage cleared with every shot a hit: 100 + 10 × 100.
grep -q "^1100" "$player/ranking.dat" || fail "result: $(cat "$player/ranking.dat")"
[ -L "$player/shnm16.f1b" ] || fail "the font is not linked into the player's folder"
[ -L "$player/stagefile.txt" ] && fail "the player's stage file was replaced"
[ -e "$WORK/elsewhere/ranking.dat" ] && fail "ranking written to the working folder"

# The window's class, for the desktop to match it with the menu entry.
[ "$CLASS" = 'WM_CLASS(STRING) = "tarmik", "Tarmik"' ] || fail "window class: $CLASS"

# A second game: the first result is still there (play_game counts the lines).
play_game "$player/ranking.dat" --play

# --data: another folder, with its own stage file and ranking, read and written there.
mkdir "$WORK/other"
cp -L "$player"/* "$WORK/other/"
play_game "$WORK/other/ranking.dat" --play --data "$WORK/other"
[ "$(wc -l < "$WORK/other/ranking.dat")" = 3 ] || fail "--data did not read its ranking"
[ "$(wc -l < "$player/ranking.dat")" = 2 ] || fail "--data wrote into the player's folder"
printf 'x\n' > "$WORK/bad.txt"
mkdir "$WORK/bad" && mv "$WORK/bad.txt" "$WORK/bad/stagefile.txt"
set +e
"$launcher" --play --data "$WORK/bad" < /dev/null > "$WORK/out.txt" 2>&1; st=$?
set -e
[ "$st" = 1 ] && console_has 'ステージファイルが不正です' || fail "--data bad folder: $st"
echo "package test passed ($(du -k "$deb" | cut -f1) kB)"
