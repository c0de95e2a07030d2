# The server's Debian package, made by CPack from this build, unpacked into a scratch root:
# its control (name, libraries, no desktop stack, the configuration as a conffile,
# maintainer scripts), its unit (paths that are in the package, hardening as systemd-analyze
# rates it), its manual page, and the server started from the unpacked tree with the
# shipped configuration, finding its replay tool and stage set beside itself.
# A game cut from the shipped demo by the package's replay tool is sent to it and ranked with
# the score its replay gives.
#   package-test.sh BUILD_DIR INSTALL_PREFIX SCRATCH SHIPPED_DEMO [SERVER OPTION...]
set -euo pipefail
build=$1
prefix=$2
work=$3/package
shipped_demo=$4
shift 4
fail() {
  echo "package test: $*" >&2
  exit 1
}
command -v dpkg-deb > /dev/null || { echo "skipped: dpkg-deb is not installed"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
# Paths as this build's own prefix has them, so that the unit's paths are the package's.
(cd "$build" && cpack -G DEB -B "$work/pkg" -D CPACK_COMPONENTS_ALL=server \
  -D CPACK_PACKAGING_INSTALL_PREFIX="$prefix") > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/pkg/tarmik-server_*_amd64.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"
mkdir "$work/control"
dpkg-deb -e "$deb" "$work/control"

[ "$(dpkg-deb -f "$deb" Package)" = tarmik-server ] || fail "Package: $(dpkg-deb -f "$deb" Package)"
depends=$(dpkg-deb -f "$deb" Depends)
for need in libpqxx libpq5 libsqlite3 libboost-json libicu libssl; do
  [[ $depends == *"$need"* ]] || fail "Depends lacks $need: $depends"
done
# A server needs no window, sound or fonts.
for never in libglut freeglut libsdl2 libx11 libfreetype libfontconfig fonts-; do
  [[ $depends != *"$never"* ]] || fail "Depends has $never: $depends"
done

# The configuration in /etc under /usr, else under the prefix.
etc=$prefix/etc
[ "$prefix" = /usr ] && etc=/etc
conf=$(cat "$work/control/conffiles")
[ "$conf" = "$etc/tarmik-server/tarmik-server.conf" ] || fail "conffiles: $conf"
[ -f "$root$conf" ] || fail "the conffile $conf is not in the package"
for script in postinst prerm postrm; do
  [ -x "$work/control/$script" ] || fail "no $script"
  sh -n "$work/control/$script" || fail "$script is not sh"
done

unit=$root$prefix/lib/systemd/system/tarmik-server.service
[ -f "$unit" ] || fail "no unit in $prefix/lib/systemd/system"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
read -r program config_flag config_file <<< "$exec_start"
[ -x "$root$program" ] || fail "ExecStart names $program, not in the package"
[ "$config_flag $config_file" = "--config $conf" ] || fail "ExecStart: $exec_start"
grep -qx 'DynamicUser=yes' "$unit" && grep -qx 'StateDirectory=tarmik-server' "$unit" ||
  fail "the unit has no dynamic user and state folder"
if command -v systemd-analyze > /dev/null; then
  # Every line understood, the program there (in the unpacked root).
  systemd-analyze verify --root="$root" --man=no --recursive-errors=no "$unit" \
    > "$work/verify" 2>&1 && [ ! -s "$work/verify" ] || fail "the unit: $(cat "$work/verify")"
  # Exposure in tenths: 2.0 and below is rated well ("OK" starts below 5.0).
  systemd-analyze security --offline=yes --threshold=20 "$unit" > "$work/security" 2>&1 ||
    { tail -n 30 "$work/security" >&2; fail "systemd-analyze rates the unit worse than 2.0"; }
  tail -n 1 "$work/security"
fi
zcat "$root$prefix/share/man/man8/tarmik-server.8.gz" | grep -q '^\.TH TARMIK-SERVER 8' ||
  fail "no manual page tarmik-server(8)"

# The unpacked server with the shipped configuration: the replay tool and the stage set are
# the package's own, found beside the program.
server=$root$prefix/sbin/tarmik-server
"$server" --version | grep -qx "tarmik-server $(dpkg-deb -f "$deb" Version)" || fail "--version"
"$server" --config "$root$conf" --listen 127.0.0.1:0 --data "$work/data" "$@" \
  > "$work/out" 2> "$work/log" &
pid=$!
trap 'kill $pid 2> /dev/null || true' EXIT
for _ in $(seq 1 100); do
  grep -q 'listening on' "$work/out" && break
  kill -0 $pid 2> /dev/null || break
  sleep 0.1
done
port=$(grep -o 'http://127.0.0.1:[0-9]*' "$work/out" | cut -d: -f3) ||
  fail "the server did not start: $(cat "$work/log")"
grep -qF "replays with $root$prefix/libexec/tarmik-server/tarmik-replay," "$work/log" ||
  fail "not the package's replay tool: $(cat "$work/log")"
grep -qF "ranking $root$prefix/share/tarmik-server/stagefile.txt " "$work/log" ||
  fail "not the package's stage set: $(cat "$work/log")"
# http METHOD PATH [BODY]: the whole answer, header and body.
http() {
  exec 3<> "/dev/tcp/127.0.0.1/$port"
  printf '%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n' "$1" "$2" >&3
  local body=${3:-}
  printf 'Content-Type: application/json\r\nContent-Length: %d\r\n\r\n%s' "${#body}" "$body" >&3
  timeout 30 cat <&3
  exec 3>&-
}
answer=$(http GET /api/health)
[[ $answer == "HTTP/1.1 200"* && $answer == *'"database":"ok"'* ]] || fail "health: $answer"

# The first game of the shipped run, cut by the package's own tool, scores what it claims.
mkdir "$work/cut"
cp "$root$prefix/share/tarmik-server/stagefile.txt" "$work/cut/"
(cd "$work/cut" && "$root$prefix/libexec/tarmik-server/tarmik-replay" --cut game "$shipped_demo" \
  < /dev/null > /dev/null 2>&1) || fail "the package's replay tool cannot cut the shipped demo"
score=$(grep -o ' result.score=[0-9]*' "$work/cut/game-1.demo" | cut -d= -f2)
demo=$(awk '{ gsub(/\\/, "\\\\"); gsub(/"/, "\\\""); printf "%s\\n", $0 }' "$work/cut/game-1.demo")
answer=$(http POST /api/games "{\"player\":\"package\",\"demo\":\"$demo\"}")
[[ $answer == "HTTP/1.1 201"* && $answer == *"\"score\":$score,"* && -n $score ]] ||
  fail "the game (claiming $score) was answered: $answer"
kill $pid
wait $pid || fail "the server did not stop cleanly on SIGTERM"
trap - EXIT
echo "server package test passed ($(du -k "$deb" | cut -f1) kB)"
