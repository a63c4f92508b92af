#!/usr/bin/env bash
# Builds the Debian packages kelvora and kelvora-server from the build folder (build/ or
# $KELVORA_BUILD_DIR, built by scripts/build.sh), checks them with lintian, installs them on this
# machine, checks the installed programs, and removes the packages again.
# Needs root (or sudo): it installs into /usr. Called by scripts/test.sh.
#
# lintian must report no errors; today it reports no warnings either. Its info-level notes stay:
#   hardening-no-bindnow, hardening-no-fortify-functions: the project's own compiler flags;
#   package-contains-documentation-outside-usr-share-doc: xmlheader.txt is the export's template
#     and Dozenten_Hilfe.pdf the page the server serves, both read by the programs;
#   package-supports-alternative-init-but-no-init.d-script: the server runs under systemd only.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KELVORA_BUILD_DIR:-build}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

say() { printf '== %s\n' "$*"; }
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }

# ---- build the packages --------------------------------------------------------------------------
cmake -S . -B "$build" >/dev/null
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
client_deb=$(ls "$build"/packages/kelvora_*.deb)
server_deb=$(ls "$build"/packages/kelvora-server_*.deb)
say "built $(basename "$client_deb") $(basename "$server_deb")"

# ---- lintian: no errors --------------------------------------------------------------------------
for deb in "$client_deb" "$server_deb"; do
  say "lintian $(basename "$deb")"
  lintian --fail-on error --info "$deb" || fail "lintian reports errors for $(basename "$deb")"
done

# ---- install ---------------------------------------------------------------------------------------
had_user=0
getent passwd kelvora-server >/dev/null && had_user=1
tmp=$(mktemp -d)
cleanup() {
  $sudo dpkg --purge kelvora kelvora-server >/dev/null 2>&1 || true
  if [ "$had_user" -eq 0 ]; then
    # The package keeps its user and its database on purge; what this test made goes again.
    $sudo deluser --quiet --system kelvora-server >/dev/null 2>&1 || true
    $sudo rm -rf /var/lib/kelvora-server
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
$sudo dpkg --purge kelvora kelvora-server >/dev/null 2>&1 || true
say "install"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  "$(realpath "$client_deb")" "$(realpath "$server_deb")" >/dev/null
dpkg-query -W -f='${Status}\n' kelvora | grep -q 'install ok installed' || fail "kelvora not installed"
dpkg-query -W -f='${Status}\n' kelvora-server | grep -q 'install ok installed' || fail "kelvora-server not installed"

# ---- the installed client --------------------------------------------------------------------------
say "client: --version and its data files"
# --version needs no display: it answers before the GUI exists.
version=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/kelvora --version)
printf '%s\n' "$version"
grep -qx 'xmlheader.txt: /usr/share/kelvora/xmlheader.txt' <<<"$version" || fail "installed client does not find xmlheader.txt"
cmp -s /usr/share/kelvora/xmlheader.txt data/xmlheader.txt || fail "installed xmlheader.txt differs from data/xmlheader.txt"
[ -e /etc/kelvora/kelvora.conf ] || grep -q '^Server: http.* (eingebaut)$' <<<"$version" \
  || fail "installed client does not name its built-in server address"
env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/kelvora --help | grep -q '^Aufruf: kelvora' \
  || fail "installed client --help does not print its usage without a display"

# The question bank converter needs no display either: its usage, its manual page, and a bank
# turned into a whole series file.
say "client: kelvora-convert"
help=$(env -i PATH=/usr/bin:/bin /usr/bin/kelvora-convert --help) || fail "installed kelvora-convert --help failed"
grep -q '^Aufruf: kelvora-convert' <<<"$help" || fail "installed kelvora-convert --help does not print its usage"
[ -f /usr/share/man/man1/kelvora-convert.1.gz ] || fail "no manual page of kelvora-convert"
printf 'Frage?{=ja ~nein}\n' >"$tmp/bank.gift"
env -i PATH=/usr/bin:/bin /usr/bin/kelvora-convert "$tmp/bank.gift" "$tmp/bank.kvf" >"$tmp/convert.log" 2>&1 \
  || { cat "$tmp/convert.log"; fail "installed kelvora-convert could not convert a bank"; }
[ "$(stat -c %s "$tmp/bank.kvf")" -eq 496300 ] || fail "kelvora-convert wrote no whole series file"

# The client as a user who cannot write /usr/bin: it starts, keeps its state in the per-user
# folder and leaves the association to the package. It runs until timeout ends it.
say "client: starts as a user and keeps its state in the per-user folder"
home="$tmp/home"
mkdir -p "$home"
chmod 755 "$tmp"
$sudo chown nobody "$home"
rc=0
$sudo setpriv --reuid=nobody --regid=nogroup --clear-groups -- env -i PATH=/usr/bin:/bin HOME="$home" \
  QT_QPA_PLATFORM=offscreen timeout 8 /usr/bin/kelvora >"$tmp/client.log" 2>&1 || rc=$?
[ "$rc" -eq 124 ] || { cat "$tmp/client.log"; fail "installed client ended by itself (status $rc) instead of running"; }
[ -d "$home/.config/Kelvora" ] || fail "no per-user folder $home/.config/Kelvora"
[ ! -e /usr/bin/writetest.dat ] || fail "the client wrote into /usr/bin"
[ ! -e "$home/.local/share/applications/kelvora.desktop" ] || fail "the client wrote a per-user association beside the package's"
# Root could write /usr/bin, but the installed program keeps its state per user there too.
roothome="$tmp/roothome"
mkdir -p "$roothome"
rc=0
$sudo env -i PATH=/usr/bin:/bin HOME="$roothome" QT_QPA_PLATFORM=offscreen timeout 8 /usr/bin/kelvora \
  >"$tmp/client-root.log" 2>&1 || rc=$?
[ "$rc" -eq 124 ] || { cat "$tmp/client-root.log"; fail "installed client ended by itself as root (status $rc)"; }
[ -d "$roothome/.config/Kelvora" ] || fail "no per-user folder for root"
[ ! -e /usr/bin/writetest.dat ] || fail "the client wrote into /usr/bin as root"

# ---- desktop entry, icons, MIME type ---------------------------------------------------------------
say "client: desktop entry, icons and MIME type"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/kelvora.desktop || fail "desktop entry invalid"
fi
for n in 16 32 48 64 128 256; do
  f=/usr/share/icons/hicolor/${n}x${n}/apps/kelvora.png
  file "$f" | grep -q "PNG image data, $n x $n" || fail "$f is not a ${n}x${n} PNG"
done
grep -q '^application/x-kelvora-series:\*\.kvf$' /usr/share/mime/globs \
  || fail "MIME database does not map *.kvf to application/x-kelvora-series"
grep -q '^application/x-kelvora-series=.*kelvora\.desktop' /usr/share/applications/mimeinfo.cache \
  || fail "desktop database does not name kelvora.desktop for application/x-kelvora-series"
if command -v xdg-mime >/dev/null; then
  touch "$tmp/vorlesung.kvf"
  [ "$(XDG_DATA_DIRS=/usr/share xdg-mime query filetype "$tmp/vorlesung.kvf")" = application/x-kelvora-series ] \
    || fail "xdg-mime does not take a .kvf file for a series"
  [ "$(XDG_DATA_DIRS=/usr/share xdg-mime query default application/x-kelvora-series)" = kelvora.desktop ] \
    || fail "xdg-mime does not open series files with kelvora.desktop"
fi

# ---- the installed server --------------------------------------------------------------------------
# This machine has every library installed for the build; a clean one gets only what Depends names.
say "server: Depends names the package of each shared library it links"
server_depends=$(dpkg-deb -f "$server_deb" Depends)
depends_names=" $(sed 's/ ([^)]*)//g; s/[,|]/ /g' <<<"$server_depends") "
for lib in $(objdump -p /usr/bin/kelvora-server | awk '$1 == "NEEDED" {print $2}'); do
  pkg=$(dpkg -S "*/$lib" 2>/dev/null | head -1 | cut -d: -f1 || true)
  [ -n "$pkg" ] || fail "no package holds $lib"
  [[ "$depends_names" == *" $pkg "* ]] || fail "$lib ($pkg) is not in the server's Depends: $server_depends"
done

say "server: the reverse proxy examples"
for f in kelvora-server.nginx Caddyfile; do
  [ -s "/usr/share/doc/kelvora-server/examples/$f" ] || fail "/usr/share/doc/kelvora-server/examples/$f missing"
done
if command -v nginx >/dev/null; then
  # The site as shipped, in an http block of its own, with the certificate paths it names.
  mkdir -p "$tmp/nginx"
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=polls.example.org \
    -keyout "$tmp/nginx/key.pem" -out "$tmp/nginx/cert.pem" >/dev/null 2>&1
  sed -e "s#/etc/ssl/certs/polls.example.org.pem#$tmp/nginx/cert.pem#" \
      -e "s#/etc/ssl/private/polls.example.org.key#$tmp/nginx/key.pem#" \
      /usr/share/doc/kelvora-server/examples/kelvora-server.nginx > "$tmp/nginx/site.conf"
  printf 'pid %s/nginx.pid;\nevents {}\nhttp { include %s/site.conf; }\n' "$tmp/nginx" "$tmp/nginx" \
    > "$tmp/nginx/nginx.conf"
  nginx -t -q -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" -g 'error_log stderr;' \
    || fail "nginx does not take the shipped site"
fi
if command -v caddy >/dev/null; then
  caddy validate --adapter caddyfile --config /usr/share/doc/kelvora-server/examples/Caddyfile >/dev/null 2>&1 \
    || fail "caddy does not take the shipped Caddyfile"
fi

say "server: user, state folder, unit"
getent passwd kelvora-server >/dev/null || fail "no user kelvora-server"
[ "$(stat -c %U /var/lib/kelvora-server)" = kelvora-server ] || fail "/var/lib/kelvora-server is not the server's"
unit=/usr/lib/systemd/system/kelvora-server.service
[ -f "$unit" ] || unit=/lib/systemd/system/kelvora-server.service
[ -f "$unit" ] || fail "no systemd unit installed"
if command -v systemd-analyze >/dev/null; then
  # verify reports some faults (an unknown Type=, say) only as "ignoring" lines: any output fails.
  out=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze finds faults in $unit: $out"
  [ -z "$out" ] || fail "systemd-analyze finds faults in $unit: $out"
fi
say "server: --version, no demo account, account commands on the service's database"
sversion=$(/usr/bin/kelvora-server --version) || fail "installed kelvora-server --version failed"
printf '%s\n' "$sversion"
pkgversion=$(dpkg-deb -f "$server_deb" Version)
[[ "$pkgversion" == "${sversion#kelvora-server }"* ]] || fail "--version says '$sversion', the package is $pkgversion"
# Without --db, root and the service's user work on the service's database; a missing one is
# refused and not created. Where systemd started the service, its database holds no account.
service_db=/var/lib/kelvora-server/kelvora-server.db
if [ -e "$service_db" ]; then
  users=$($sudo runuser -u kelvora-server -- /usr/bin/kelvora-server --list-users) || fail "--list-users on the service's database failed"
  [ -z "$users" ] || fail "the package made accounts: $users"
else
  rc=0
  $sudo runuser -u kelvora-server -- /usr/bin/kelvora-server --list-users >"$tmp/list.log" 2>&1 || rc=$?
  [ "$rc" -eq 1 ] && grep -q "there is no database $service_db" "$tmp/list.log" \
    || { cat "$tmp/list.log"; fail "--list-users did not refuse the missing service database"; }
  [ ! -e "$service_db" ] || fail "an account command created the service's database"
fi
# The program as the service runs it: its user, a database in its state folder.
db=/var/lib/kelvora-server/package-test.db
$sudo setpriv --reuid=kelvora-server --regid=kelvora-server --clear-groups -- \
  timeout 20 /usr/bin/kelvora-server --db "$db" --bind 127.0.0.1 --port 0 \
  >"$tmp/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  grep -q 'Kelvora server ready on port' "$tmp/server.log" && break
  sleep 0.1
done
grep -q 'Kelvora server ready on port' "$tmp/server.log" || { cat "$tmp/server.log"; fail "installed server did not start as its user"; }
say "server: /health, and no demo account on a first start"
port=$(sed -n 's/^Kelvora server ready on port //p' "$tmp/server.log")
health=$(python3 -c 'import sys, urllib.request
r = urllib.request.urlopen("http://127.0.0.1:" + sys.argv[1] + "/health", timeout=5)
print(r.status, r.read().decode())' "$port") || fail "/health of the installed server failed"
[[ "$health" == '200 {"status":"ok","database":true,'* ]] || fail "/health answered: $health"
! grep -q demo "$tmp/server.log" || { cat "$tmp/server.log"; fail "a first start made a demo account"; }
$sudo kill "$server_pid" 2>/dev/null || true # timeout hands SIGTERM on: the server ends cleanly
wait "$server_pid" 2>/dev/null || true
[ -s "$db" ] || fail "the server wrote no database in its state folder"
[ -z "$($sudo runuser -u kelvora-server -- /usr/bin/kelvora-server --db "$db" --list-users)" ] \
  || fail "the installed server made an account on its first start"
$sudo rm -f "$db" "$db"-*

# ---- remove ----------------------------------------------------------------------------------------
say "remove"
$sudo dpkg --purge kelvora kelvora-server >/dev/null
{ [ ! -e /usr/bin/kelvora ] && [ ! -e /usr/bin/kelvora-server ]; } || fail "programs left after removal"
[ ! -e /usr/share/kelvora/xmlheader.txt ] || fail "data files left after removal"
[ ! -e /usr/bin/kelvora-convert ] || fail "kelvora-convert left after removal"
say "packages OK"
