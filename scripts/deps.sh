#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those that are missing.
# Usage: scripts/deps.sh [build|run|test]   (default: test, which needs everything)
set -euo pipefail
what=${1:-test}

build=(build-essential cmake pkg-config qt6-base-dev qt6-qpa-plugins libcurl4-openssl-dev
       libgtest-dev libsqlite3-dev libmicrohttpd-dev libsodium-dev libqrencode-dev libutf8proc-dev
       libldap-dev libpq-dev fonts-liberation2 qt6-translations-l10n)
run=(xdg-utils)
test=(chromium chromium-driver python3 clang-format clang-tidy zbar-tools libreoffice-calc-nogui poppler-utils
      lintian dpkg-dev fakeroot desktop-file-utils shared-mime-info file adduser xdg-utils)
# The fuzz targets (scripts/fuzz.sh): Debian's clang with its libFuzzer and sanitizer runtimes.
test+=(clang libclang-rt-14-dev)
# The directory tests start OpenLDAP's slapd with a directory of their own, loaded with slapadd.
test+=(slapd ldap-utils)
# The reverse-proxy test and benchmark run Debian's nginx in front of the server, with a
# certificate made by openssl.
test+=(nginx-light openssl)
# The shared-database tests start a throwaway cluster of Debian's PostgreSQL.
test+=(postgresql)
# The accessibility test installs axe-core with npm (Debian's Node.js comes without npm).
command -v npm >/dev/null || test+=(nodejs npm)

case "$what" in
  build) want=("${build[@]}") ;;
  run)   want=("${build[@]}" "${run[@]}") ;;
  test)  want=("${build[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [build|run|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
