# Shell helpers of the server benchmark scripts, sourced by them. They expect $bin (the programs),
# $voters and $seconds to be set.

freePort() { # [address], 127.0.0.1 when none is given
  python3 -c 'import socket,sys; s=socket.socket(); s.bind((sys.argv[1],0)); print(s.getsockname()[1])' "${1:-127.0.0.1}"
}

waitFor() { # port
  for _ in $(seq 400); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "nothing answers on port $1" >&2
  return 1
}

# One load run of kelvora-server-load against the demo account; prints "votes_per_s p99_ms ok".
load() { # ports (comma-separated) rate
  local out vps p99 errors ok
  out=$("$bin/kelvora-server-load" --port "$1" --id demo --password bench-pw --voters "$voters" \
        --rate "$2" --seconds "$seconds" 2>&1) || true
  vps=$(sed -n 's/^throughput: \([0-9]*\) counted.*/\1/p' <<<"$out")
  p99=$(sed -n 's/.*p99 \([0-9.]*\) ms.*/\1/p' <<<"$out")
  errors=$(sed -n 's/.*errors \([0-9]*\) in.*/\1/p' <<<"$out")
  grep -q "OK, none lost" <<<"$out" && [[ "${errors:-1}" == 0 ]] && ok=1 || ok=0
  if [[ $ok != 1 ]]; then # what went wrong, for the record
    grep -E "^(votes|server counts|gave up)|connect|other counts" <<<"$out" | sed "s/^/          ports $1, $2 votes\/s: /" >&2
  fi
  [[ -n "$vps" && -n "$p99" ]] || { echo "load run failed:" >&2; echo "$out" >&2; echo "0 0 0"; return; }
  echo "$vps $p99 $ok"
}

median() { sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0) ? a / b : 0}'; }
