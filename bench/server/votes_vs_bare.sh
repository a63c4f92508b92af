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

freePort() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
waitFor() { # port
  for _ in $(seq 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "nothing answers on port $1" >&2
  exit 1
}

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

# One load run; prints "votes_per_s p99_ms lost_ok".
load() { # port rate
  local out
  out=$("$bin/kelvora-server-load" --port "$1" --id demo --password bench-pw --voters "$voters" \
        --rate "$2" --seconds "$seconds" 2>&1) || true
  local vps p99 ok errors
  vps=$(sed -n 's/^throughput: \([0-9]*\) counted.*/\1/p' <<<"$out")
  p99=$(sed -n 's/.*p99 \([0-9.]*\) ms.*/\1/p' <<<"$out")
  errors=$(sed -n 's/.*errors \([0-9]*\) in.*/\1/p' <<<"$out")
  grep -q "OK, none lost" <<<"$out" && [[ "${errors:-1}" == 0 ]] && ok=1 || ok=0
  if [[ $ok != 1 ]]; then # what went wrong, for the record
    grep -E "^(votes|server counts|gave up)|connect" <<<"$out" | sed "s/^/          port $1, $2 votes\/s: /" >&2
  fi
  [[ -n "$vps" && -n "$p99" ]] || { echo "load run failed:" >&2; echo "$out" >&2; echo "0 0 0"; return; }
  echo "$vps $p99 $ok"
}
median() { sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

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
