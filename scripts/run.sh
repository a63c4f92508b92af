#!/usr/bin/env bash
# Installs what is missing, builds, starts the local poll server with a demo account and the
# client pointed at it. Stops the server when the client exits.
# Without a display the client runs on Qt's VNC platform: connect a VNC viewer to the port shown.
# More accounts: the password is read from standard input, never from the command line, e.g.
#   printf '%s\n' "$PASSWORD" | build/bin/kelvora-server --db run/kelvora-server.db --add-user ID
# (or without the pipe, to be asked for it). The demo account's password is for demos only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
port=${KELVORA_PORT:-8090}
base="http://127.0.0.1:${port}/"

echo "Checking the packages the client and the poll server need..."
bash scripts/deps.sh run
echo "Building the client and the poll server (the first build takes a few minutes)..."
KELVORA_TARGETS="kelvora kelvora-server" bash scripts/build.sh -DKELVORA_BASE_URL="$base"
bin="$root/${KELVORA_BUILD_DIR:-build}/bin"

server_pid=""
if [ -x "$bin/kelvora-server" ]; then
  state="$root/run"
  mkdir -p "$state"
  log="$state/server.log"
  "$bin/kelvora-server" --port "$port" --db "$state/kelvora-server.db" \
      --demo-password "${KELVORA_DEMO_PASSWORD:-demo}" >"$log" 2>&1 &
  server_pid=$!
  trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null || true' EXIT
  for _ in $(seq 1 100); do
    grep -q "Kelvora server ready" "$log" 2>/dev/null && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$log"; echo "The poll server did not start." >&2; exit 1; }
    sleep 0.1
  done
  cat "$log"
  echo "Log in with the user ID 'demo' and the password '${KELVORA_DEMO_PASSWORD:-demo}'."
fi

# The client keeps its settings beside its executable, in the build tree.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$bin/kelvora" "$@"
else
  vnc=${KELVORA_VNC_PORT:-5900}
  echo "No display: the client runs on a virtual screen. Connect a VNC viewer to 127.0.0.1:${vnc}"
  echo "(for example: vncviewer 127.0.0.1:${vnc}). Press Ctrl+C here to stop."
  QT_QPA_PLATFORM="vnc:size=1280x800:port=${vnc}" "$bin/kelvora" "$@"
fi
