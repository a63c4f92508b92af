#!/usr/bin/env bash
# Builds the fuzz targets (clang, build-fuzz/) and runs each for a fixed time with its seeds from
# fuzz/corpus/<target>/. New inputs go to build-fuzz/corpus/<target>/, findings to
# build-fuzz/findings/<target>/, logs to build-fuzz/logs/ (build-fuzz/seed-logs/ for "seeds").
# Two targets run at a time ($KELVORA_FUZZ_JOBS), under nice, so that builds go first.
# Usage: scripts/fuzz.sh [seconds per target, default 600 | seeds] [target ...]
# "seeds" only runs every target once over its seeds, a quick check that they build and run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
if [ "$seconds" != seeds ] && ! [ "$seconds" -gt 0 ] 2>/dev/null; then
  echo "usage: $0 [seconds | seeds] [target ...]" >&2
  exit 2
fi
jobs=${KELVORA_FUZZ_JOBS:-2}
build=build-fuzz
logs=$build/logs
[ "$seconds" != seeds ] || logs=$build/seed-logs

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DKELVORA_FUZZ=ON -DKELVORA_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target kelvora_fuzz >/dev/null

all=(fuzz_series_presentation fuzz_series_editor fuzz_settings fuzz_history fuzz_vote_counts
     fuzz_join_link fuzz_server_query fuzz_server_json fuzz_server_vote fuzz_bank_gift fuzz_bank_moodle
     fuzz_bank_aiken)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

# The longest input worth trying: a few records for the record files, a whole "ini.dat".
max_len() {
  case "$1" in
    fuzz_series_*) echo 20000 ;;
    fuzz_settings) echo 40000 ;;
    fuzz_history) echo 3000 ;;
    *) echo 4096 ;;
  esac
}

run_one() {
  local t=$1
  if [ "$seconds" = seeds ]; then
    "$build/bin/$t" -runs=0 -print_final_stats=1 "fuzz/corpus/$t" >"$logs/$t.log" 2>&1
    return
  fi
  # Hangs count as findings: no input may take more than 10 s.
  nice -n 10 "$build/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(max_len "$t")" -print_final_stats=1 -artifact_prefix="$build/findings/$t/" \
    "$build/corpus/$t" "fuzz/corpus/$t" >"$logs/$t.log" 2>&1
}

mkdir -p "$logs"
for t in "${targets[@]}"; do mkdir -p "$build/corpus/$t" "$build/findings/$t"; done
pids=()
names=()
status=0
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n || true
  done
  run_one "$t" &
  pids+=($!)
  names+=("$t")
done
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then
    echo "FINDING: ${names[$i]} (see $logs/${names[$i]}.log and $build/findings/${names[$i]}/)"
    status=1
  fi
done

printf '%-26s %8s %12s %8s %8s\n' target seconds execs cov ft
for t in "${targets[@]}"; do
  log="$logs/$t.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  cov=$( (grep -o 'cov: [0-9]*' "$log" || true) | tail -1 | cut -d' ' -f2)
  ft=$( (grep -o 'ft: [0-9]*' "$log" || true) | tail -1 | cut -d' ' -f2)
  printf '%-26s %8s %12s %8s %8s\n' "$t" "${secs:--}" "${execs:--}" "${cov:--}" "${ft:--}"
done
exit $status
