#!/usr/bin/env bash
# Counted votes per second and p99 latency of one and of two kelvora-server processes over one
# PostgreSQL database, beside one server on SQLite, all loaded by kelvora-server-load (1,000
# voters, own cookie and keep-alive connection each; with two servers the voters take them in
# turn). Every configuration runs RUNS times, alternating, in this one run; the medians are
# printed with their ratio to SQLite.
#
#   bench/server/votes_on_postgres.sh [BIN_DIR]        (default: build/bin)
#
# Both stores are durable: SQLite with synchronous=FULL, PostgreSQL (a throwaway cluster made
# with initdb, as the user postgres when run as root) with fsync and synchronous_commit on.
# Two loads: "saturated" offers far more votes than any configuration takes (RATE_MAX), "nominal"
# offers RATE_NOMINAL votes/s, a lecture hall's burst, for the latency.
# Environment: RUNS (3), SECONDS_PER_RUN (5), VOTERS (1000), RATE_MAX (100000), RATE_NOMINAL (3000),
# PG_BIN (/usr/lib/postgresql/15/bin).
set -euo pipefail
bin=${1:-build/bin}
runs=${RUNS:-3}
seconds=${SECONDS_PER_RUN:-5}
voters=${VOTERS:-1000}
rateMax=${RATE_MAX:-100000}
rateNominal=${RATE_NOMINAL:-3000}
pgBin=${PG_BIN:-/usr/lib/postgresql/15/bin}
for program in kelvora-server kelvora-server-load; do
  [[ -x "$bin/$program" ]] || { echo "missing $bin/$program (build the bench targets first)" >&2; exit 2; }
done
[[ -x "$pgBin/initdb" ]] || { echo "PostgreSQL is not installed ($pgBin/initdb)" >&2; exit 2; }

work=$(mktemp -d /tmp/kelvora-pgvotes-XXXXXX)
pids=()
as=()
if [[ $(id -u) == 0 ]]; then
  chown postgres: "$work"
  as=(runuser -u postgres --)
fi
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  [[ -d "$work/data" ]] && "${as[@]}" "$pgBin/pg_ctl" -D "$work/data" -m fast -w stop >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/load_runs.sh"

pgAddress=127.0.0.6
pgPort=$(freePort $pgAddress)
"${as[@]}" "$pgBin/initdb" -D "$work/data" -U kelvora --auth=trust -E UTF8 --locale=C.UTF-8 >"$work/initdb.log"
cat >>"$work/data/postgresql.auto.conf" <<EOF
listen_addresses = '$pgAddress'
port = $pgPort
unix_socket_directories = '$work'
max_connections = 200
EOF
"${as[@]}" "$pgBin/pg_ctl" -D "$work/data" -l "$work/postgres.log" -w start >/dev/null
"${as[@]}" "$pgBin/createdb" -h $pgAddress -p "$pgPort" -U kelvora kelvora
uri="postgresql://kelvora@$pgAddress:$pgPort/kelvora"

# The servers as they run in a lecture hall (two threads), except that a device may vote again
# at once, so repeated votes of the same voters are counted, not refused.
start() { # name database; sets started to its port
  started=$(freePort 127.0.0.1)
  "$bin/kelvora-server" --db "$2" --bind 127.0.0.1 --port "$started" --demo-password bench-pw --help-pdf "" \
    --vote-interval-ms 0 >"$work/$1.log" 2>&1 &
  pids+=($!)
  waitFor "$started" || { cat "$work/$1.log" >&2; exit 1; }
}
start sqlite "$work/votes.db"; sqlitePort=$started
start pg-a "$uri"; pgPortA=$started
start pg-b "$uri"; pgPortB=$started # the second server finds the tables the first has made


configs=(sqlite pg1 pg2)
declare -A portsOf=([sqlite]=$sqlitePort [pg1]=$pgPortA [pg2]=$pgPortA,$pgPortB)
declare -A nameOf=([sqlite]="1 server, SQLite" [pg1]="1 server, PostgreSQL" [pg2]="2 servers, PostgreSQL")
echo "votes per second with $voters voters, $runs alternating runs of ${seconds} s per configuration and load, medians"
for mode in saturated nominal; do
  rate=$rateMax
  [[ $mode == nominal ]] && rate=$rateNominal
  declare -A lost=()
  for c in "${configs[@]}"; do : >"$work/$c"; lost[$c]=0; done
  for r in $(seq "$runs"); do
    # A different configuration first each time, so none always meets a machine just woken up.
    for k in 0 1 2; do
      c=${configs[$(((k + r) % 3))]}
      read -r vps p99 ok < <(load "${portsOf[$c]}" "$rate")
      echo "$vps $p99" >>"$work/$c"
      [[ $ok == 1 ]] || lost[$c]=$((lost[$c] + 1))
    done
  done
  baseV=$(cut -d' ' -f1 "$work/sqlite" | median)
  baseP=$(cut -d' ' -f2 "$work/sqlite" | median)
  echo "$mode (offered $rate votes/s):"
  for c in "${configs[@]}"; do
    v=$(cut -d' ' -f1 "$work/$c" | median); p=$(cut -d' ' -f2 "$work/$c" | median)
    printf '  %-22s %7s votes/s (%s x SQLite)  p99 %7s ms (%s x SQLite)  runs with lost votes or errors: %s\n' \
      "${nameOf[$c]}" "$v" "$(ratio "$v" "$baseV")" "$p" "$(ratio "$p" "$baseP")" "${lost[$c]}"
  done
done
echo "aim: 2 servers on PostgreSQL count >= 3000 durable votes/s at p99 < 50 ms (nominal load), none lost"
