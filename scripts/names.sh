#!/usr/bin/env bash
# Checks the client's names with clang-tidy (.clang-tidy says which rules). Needs a configured
# tree (build/, or $KELVORA_BUILD_DIR) for the compile commands; prints every name that breaks a
# rule and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${KELVORA_BUILD_DIR:-build}
[ -f "$dir/compile_commands.json" ] || cmake -S . -B "$dir" >/dev/null
files=$(python3 - "$dir/compile_commands.json" <<'PY'
import json, os, sys
root = os.getcwd() + "/"
areas = ("core/", "net/", "platform/", "ui/", "app/")
names = {os.path.relpath(e["file"], root) for e in json.load(open(sys.argv[1]))}
print("\n".join(sorted(n for n in names if n.startswith(areas))))
PY
)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Headers of the client areas are checked where they are included; compiler warnings are the
# build's business (-w).
printf '%s\n' $files | xargs -P"$(nproc)" -n4 clang-tidy -p "$dir" --quiet --extra-arg=-w \
  --header-filter="^$PWD/(core|net|platform|ui|app)/" >"$out" 2>/dev/null || true
if grep -q 'warning:\|error:' "$out"; then
  grep -A2 'warning:\|error:' "$out" | sort -u >&2
  exit 1
fi
echo "names: $(printf '%s\n' $files | wc -l) files of the client follow the naming rules"
