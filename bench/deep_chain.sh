#!/usr/bin/env bash
# The deep-chain benchmark: tokafind with two workers against the one-thread
# walk on a chain of directories 8,000 levels deep whose every level matches
# the search text.  Each level's entry is rated only after everything below
# it, so the threaded walk holds a candidate for every level until it
# reaches the bottom; its peak memory and time are given as ratios to the
# one-thread walk's, measured in the same run.  Usage:
# bench/deep_chain.sh [BUILD_DIR]
#
# Peak memory is the maximum resident set size (/usr/bin/time), time the
# wall time of the whole process; medians of TOKA_CHAIN_RUNS (5) runs after
# a warm-up round, the two taking turns.  The list has the window's 200
# ranks, so both walks hold the paths of the 200 deepest levels.  Before the timings the script
# checks that -j1 and -j2 print byte for byte the same ranks and count.  The
# chain is built once (with openat, as it is far longer than PATH_MAX) under
# TOKA_CHAIN_TREE (default /tmp/toka-chain) and reused; TOKA_CHAIN_LEVELS
# sets its depth.
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
tool="$build/tools/tokafind"
base=${TOKA_CHAIN_TREE:-/tmp/toka-chain}
levels=${TOKA_CHAIN_LEVELS:-8000}
runs=${TOKA_CHAIN_RUNS:-5}
rows=200
name=match
limit=1.5 # the threaded walk's peak memory against the one-thread walk's

if [ ! -x "$tool" ]; then
  echo "deep_chain.sh: $tool is missing; build the tokafind target first" >&2
  exit 1
fi
[ -x /usr/bin/time ] || "$here/../scripts/install-deps" --bench

. "$here/common.bash"

chain="$base/chain-$levels"
if [ ! -e "$chain.done" ]; then
  echo "building $chain (once)..."
  rm -rf "$chain"
  mkdir -p "$chain"
  perl -e 'my ($dir, $levels, $name) = @ARGV;
    chdir $dir or die "$dir: $!";
    for (1 .. $levels) { mkdir $name or die "$name: $!"; chdir $name or die "$name: $!"; }' \
    "$chain" "$levels" "$name"
  touch "$chain.done"
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "machine: $(nproc) cores, load at start: $(load)"
echo "chain: $chain, $levels levels named '$name', search text '$name', $rows ranks"

for j in 1 2; do "$tool" --rows "$rows" -j"$j" "$name" "$chain" >"$out/$j.out" 2>"$out/$j.err"; done
if ! cmp -s "$out/1.out" "$out/2.out" || ! cmp -s <(tail -1 "$out/1.err") <(tail -1 "$out/2.err"); then
  echo "RANKING CHECK FAILED: tokafind -j1 and -j2 differ on the chain" >&2
  exit 1
fi
echo "ranking check: $(wc -l <"$out/1.out") ranks, $(tail -1 "$out/1.err"): -j1 = -j2"

# measure J: "KB MS" of one run.
measure() {
  local start end
  start=${EPOCHREALTIME/./}
  /usr/bin/time -f '%M' -o "$out/rss" "$tool" --rows "$rows" -j"$1" "$name" "$chain" >/dev/null 2>&1
  end=${EPOCHREALTIME/./}
  printf '%s %d.%d\n' "$(cat "$out/rss")" $(((end - start) / 1000)) $(((end - start) % 1000 / 100))
}

declare -A kb=() ms=()
for round in $(seq 0 "$runs"); do
  for j in 1 2; do
    read -r k m < <(measure "$j")
    [ "$round" -eq 0 ] && continue
    kb[$j]+="$k "
    ms[$j]+="$m "
  done
done

printf '  %-16s %12s %10s\n' "median" "peak MB" "ms"
declare -A med_kb=() med_ms=()
for j in 1 2; do
  med_kb[$j]=$(printf '%s\n' ${kb[$j]} | median)
  med_ms[$j]=$(printf '%s\n' ${ms[$j]} | median)
  printf '  %-16s %12.1f %10s\n' "tokafind -j$j" "$(awk -v k="${med_kb[$j]}" 'BEGIN { print k / 1024 }')" "${med_ms[$j]}"
done
rss_ratio=$(ratio "${med_kb[2]}" "${med_kb[1]}")
time_ratio=$(ratio "${med_ms[2]}" "${med_ms[1]}")
verdict=$(awk -v r="$rss_ratio" -v l="$limit" 'BEGIN { print (r <= l) ? "ok" : "MISSED" }')
echo "ratios -j2 / -j1 (medians of $runs runs): peak memory $rss_ratio ($verdict, target <= $limit), time $time_ratio"
echo "load at the end: $(load)"
