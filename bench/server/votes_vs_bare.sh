#!/usr/bin/env bash
# The poll server's counted votes per second with 1,000 voters, beside a bare libmicrohttpd server
# (kelvora-bare-server) that answers the same requests without storing anything. Both run as
# processes of their own on 127.0.0.1 and are loaded by kelvora-server-load in turn, alternating,
# RUNS times each; the medians are printed with their ratio.
#
#   bench/server/votes_vs_bare.sh [BIN_DIR]        (default: build/bin)
#
# Two loads: "saturated" offers far more votes than either server can take (RATE_MAX), so the
# figure is the most each server counts; "nominal" offers RATE_NOMINAL votes/s, a lecture hall's
# burst, for the latency (p99) at a load the server is meant to carry.
# Environment: RUNS (3), SECONDS_PER_RUN (5), VOTERS (1000), RATE_MAX (100000), RATE_NOMINAL (3000).
set -euo pipefail
bin=${1:-build/bin}
runs=${RUNS:-3}
seconds=${SECONDS_PER_RUN:-5}
voters=${VOTERS:-1000}
rateMax=${RATE_MAX:-100000}
rateNominal=${RATE_NOMINAL:-3000}
for program in kelvora-server kelvora-bare-server kelvora-server-load; do
  [[ -x "$bin/$program" ]] || { echo "missing $bin/$program (build the bench targets first)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/kelvora-votes-XXXXXX)
serverPid="" barePid=""
cleanup() {
  [[ -n "$serverPid" ]] && kill "$serverPid" 2>/dev/null && wait "$serverPid" 2>/dev/null
  [[ -n "$barePid" ]] && kill "$barePid" 2>/dev/null && wait "$barePid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/load_runs.sh"

serverPort=$(freePort)
# The real server as it runs in a lecture hall (FULL durability, two threads), except that a device
# may vote again at once, so repeated votes of the same voters are counted, not refused.
"$bin/kelvora-server" --db "$work/votes.db" --bind 127.0.0.1 --port "$serverPort" \
  --demo-password bench-pw --help-pdf "" --vote-interval-ms 0 >"$work/server.log" 2>&1 &
serverPid=$!
barePort=$(freePort)
"$bin/kelvora-bare-server" --port "$barePort" >"$work/bare.log" 2>&1 &
barePid=$!
waitFor "$serverPort"
waitFor "$barePort"


echo "votes per second with $voters voters, $runs alternating runs of ${seconds} s per server and load, medians"
for mode in saturated nominal; do
  rate=$rateMax
  [[ $mode == nominal ]] && rate=$rateNominal
  : >"$work/kelvora" && : >"$work/bare"
  lostKelvora=0 lostBare=0
  for r in $(seq "$runs"); do
    # Alternating which goes first, so neither always meets a machine just woken up or still busy.
    order="kelvora bare"
    (( r % 2 == 0 )) && order="bare kelvora"
    for who in $order; do
      port=$serverPort
      [[ $who == bare ]] && port=$barePort
      read -r vps p99 ok < <(load "$port" "$rate")
      echo "$vps $p99" >>"$work/$who"
      if [[ $ok != 1 ]]; then
        [[ $who == kelvora ]] && lostKelvora=$((lostKelvora + 1)) || lostBare=$((lostBare + 1))
      fi
    done
  done
  kv=$(cut -d' ' -f1 "$work/kelvora" | median); kp=$(cut -d' ' -f2 "$work/kelvora" | median)
  bv=$(cut -d' ' -f1 "$work/bare" | median); bp=$(cut -d' ' -f2 "$work/bare" | median)
  ratio=$(awk -v a="$kv" -v b="$bv" 'BEGIN {printf "%.3f", (b > 0) ? a / b : 0}')
  printf '%-9s (offered %6s votes/s)  kelvora-server %7s votes/s p99 %7s ms | bare %7s votes/s p99 %7s ms | ratio %s (aim >= 0.5)\n' \
    "$mode" "$rate" "$kv" "$kp" "$bv" "$bp" "$ratio"
  echo "          runs with lost votes or errors: kelvora-server $lostKelvora, bare $lostBare (aim 0)"
done
echo "aim for kelvora-server: p99 < 20 ms at the nominal load"
