#!/usr/bin/env bash
# A record kept current: watch_timing on /usr (memory and set-up only: /usr
# is not written to) and on the two synthetic trees of about 1,000,000
# entries (bench/common.bash), where a file is made in one directory, the
# watch asked for the record and the answer checked to hold it.  Usage:
# bench/watch.sh [BUILD_DIR]
#
#   settled   from the watch's start to the first answer (the watches set
#             and the walk that follows them)
#   memory    the process's resident memory (MB) with the record before
#             the watch and once it settled (the kernel's memory for the
#             watches apart)
#   change    from a file made to the answer that holds it, median of
#             TOKA_WATCH_RUNS (10): the changed directory listed again, the
#             others checked, the record made anew
#   live      a live walk of the tree in the same process: the baseline
#   idle      a question when nothing changed
# TOKA_WATCH_TREES picks some of the trees ("usr few-large many-small").
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
timing="$build/bench/watch_timing"
base=${TOKA_WALK_TREE:-/tmp/toka-walk}
runs=${TOKA_WATCH_RUNS:-10}
trees=${TOKA_WATCH_TREES:-usr few-large many-small}

if [ ! -x "$timing" ]; then
  echo "watch.sh: $timing is missing; build the watch_timing target first" >&2
  exit 1
fi
. "$here/common.bash"
# shellcheck disable=SC2086
build_trees $trees

echo "load average before: $(load)"
printf '\n%-11s %9s %9s %11s %14s %10s %9s %6s %6s %9s\n' tree entries watched "settled ms" "memory MB" \
  "record MB" "change ms" "live" "ratio" "idle ms"
for tree in $trees; do
  if [ "$tree" = usr ]; then
    out=$("$timing" --runs "$runs" /usr)
  else
    dir="$base/$tree"
    # The first directory in name order, one level down.
    change=$(find "$dir" -mindepth 1 -maxdepth 1 -type d | sort | awk 'NR == 1')
    out=$("$timing" --runs "$runs" --change "$change" "$dir")
  fi
  read -r entries _ < <(awk '$1 == "record" { print $2, $3 }' <<<"$out")
  read -r watched settled memory record < <(awk '$1 == "watch" { printf "%s %s %.0f->%.0f %.1f\n", $2, $3, $4 / 1024, $5 / 1024, $6 / 1024 }' <<<"$out")
  live=$(awk '$1 == "live" { print $2 }' <<<"$out")
  change=$(awk '$1 == "change" { print $2 }' <<<"$out")
  idle=$(awk '$1 == "idle" { print $2 }' <<<"$out")
  printf '%-11s %9s %9s %11s %14s %10s %9s %6s %6s %9s\n' "$tree" "$entries" "$watched" "$settled" "$memory" "$record" \
    "${change:--}" "$live" "$([ -n "$change" ] && ratio "$change" "$live" || echo -)" "$idle"
done
echo "load average after: $(load)"
