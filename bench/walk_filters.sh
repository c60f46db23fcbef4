#!/usr/bin/env bash
# What each filter costs the walk: tokafind on the synthetic trees that
# bench/walk.sh builds (run it first; `make bench` does), without a filter
# and with each filter alone, then with size and time together, warm cache,
# median of TOKA_WALK_RUNS (10) runs, all cores.  The filters on size and
# time read an entry's metadata only when its score would let it into the
# list, so they should cost close to nothing.  Usage: bench/walk_filters.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build}
tool="$build/tools/tokafind"
base=${TOKA_WALK_TREE:-/tmp/toka-walk}
text=${TOKA_WALK_TEXT:-invoice}
runs=${TOKA_WALK_RUNS:-10}

[ -x "$tool" ] || { echo "walk_filters.sh: $tool is missing" >&2; exit 1; }

median_ms() { # median_ms COMMAND...: the median wall time of $runs runs
  local times=() start end
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'
}

echo "filters on the walk: tokafind '$text', warm, median of $runs; load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for shape in many-small few-large; do
  tree="$base/$shape"
  if [ ! -e "$base/$shape.done" ]; then
    echo "  $shape: no tree at $tree (bench/walk.sh builds it)"
    continue
  fi
  "$tool" "$text" "$tree" >/dev/null 2>&1 # warm-up
  plain=$(median_ms "$tool" "$text" "$tree")
  printf '  %-10s %-38s %6s ms\n' "$shape" "no filter" "$plain"
  while IFS='|' read -r label options; do
    # shellcheck disable=SC2086 # the options are words on purpose
    ms=$(median_ms "$tool" $options "$text" "$tree")
    printf '  %-10s %-38s %6s ms  %s x\n' "$shape" "$label" "$ms" \
      "$(awk -v a="$ms" -v b="$plain" 'BEGIN {printf "%.2f", a / b}')"
  done <<'LIST'
exclude 3 patterns|-E .git -E node_modules -E *.tmp
no hidden|--no-hidden
type f|-t f
extension pdf|-e pdf -e odt
size +1k|-S +1k
changed within 1 year|--changed-within 1y
size and time together|-S +1k -S -1g --changed-within 1y
LIST
done
