#!/usr/bin/env bash
# The verifying walk's benchmark: tokafind --from-record --verify against
# the live tokafind, on /usr and on the two synthetic trees of about
# 1,000,000 entries (bench/common.bash), with nothing changed since the
# record and with 1 % of the directories changed.  Usage:
# bench/verify.sh [BUILD_DIR]
#
#   in process  verify_timing: the verifying walk against the live walk in
#               the same process, both on tokafind's default workers,
#               median of TOKA_VERIFY_RUNS (10) after a warm-up
#   check       tokafind --from-record --verify prints byte for byte what
#               the live tokafind prints (ranks and count), both measures;
#               the script fails at a difference
#   warm        whole tokafind: live against --from-record --verify (the
#               record read, checked and verified), median of
#               TOKA_VERIFY_RUNS after a warm-up
#   cold        (root only) page cache, dentries and inodes dropped before
#               each run, median of TOKA_VERIFY_COLD_RUNS (3)
#
# "1 % changed" is every 100th directory in name order.  On the synthetic
# trees a file is created in each and removed again: their names stay as
# they were (the trees serve the other benchmarks), their times are new.
# /usr is not written to: its record is made with the stamps of those
# directories left out, which the verifying walk lists again just the same.
# TOKA_VERIFY_TREES picks some of the trees ("usr few-large many-small").
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
tool="$build/tools/tokafind"
timing="$build/bench/verify_timing"
base=${TOKA_WALK_TREE:-/tmp/toka-walk}
runs=${TOKA_VERIFY_RUNS:-10}
cold_runs=${TOKA_VERIFY_COLD_RUNS:-3}
trees=${TOKA_VERIFY_TREES:-usr few-large many-small}

for program in "$tool" "$timing"; do
  if [ ! -x "$program" ]; then
    echo "verify.sh: $program is missing; build the tokafind and verify_timing targets first" >&2
    exit 1
  fi
done
. "$here/common.bash"
# shellcheck disable=SC2086
build_trees $trees

cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT
export XDG_CACHE_HOME="$cache/cache"

# Times of the trees' last changes must be settled before a record starts
# (src/search/listing_check.h): at most a second and 10 ms.
sleep 1.1

echo "load average before: $(load)"
printf '\n%-11s %-9s %-24s %9s %9s %6s %s\n' tree change measure live verified ratio "listed again"
for tree in $trees; do
  dir=$([ "$tree" = usr ] && echo /usr || echo "$base/$tree")
  text=$([ "$tree" = usr ] && echo config || echo invoice)
  for change in none 1%; do
    case "$change:$tree" in
    none:*) how=() ;;
    1%:usr) how=(--drop-stamps 1) ;;
    *) how=(--touch 1) ;;
    esac
    # In process; the record it verifies is saved for tokafind.
    out=$("$timing" --runs "$runs" --save "${how[@]}" --root "$dir" "$text")
    live=$(awk '$1 == "live" { print $2 }' <<<"$out")
    read -r verified listed all < <(awk '$1 == "verify" { print $2, $3, $4 }' <<<"$out")
    printf '%-11s %-9s %-24s %9s %9s %6s %s\n' "$tree" "$change" "in process (ms)" "$live" "$verified" \
      "$(ratio "$verified" "$live")" "$listed of $all"

    for args in "" "--similar"; do
      # shellcheck disable=SC2086
      a=$("$tool" $args "$text" "$dir" 2>&1)
      # shellcheck disable=SC2086
      b=$("$tool" --from-record --verify $args "$text" "$dir" 2>&1 | sed 's/ (verified against the walk of .*)$//')
      if [ "$a" != "$b" ]; then
        echo "verify.sh: tokafind --from-record --verify $args $text $dir differs from the live walk" >&2
        exit 1
      fi
    done

    run_ms "$tool" "$text" "$dir" >/dev/null
    run_ms "$tool" --from-record --verify "$text" "$dir" >/dev/null
    warm_live=() warm_verified=()
    for ((i = 0; i < runs; i++)); do
      warm_live+=("$(run_ms "$tool" "$text" "$dir")")
      warm_verified+=("$(run_ms "$tool" --from-record --verify "$text" "$dir")")
    done
    a=$(printf '%s\n' "${warm_live[@]}" | median)
    b=$(printf '%s\n' "${warm_verified[@]}" | median)
    printf '%-11s %-9s %-24s %9s %9s %6s\n' "$tree" "$change" "warm, whole tokafind (ms)" "$a" "$b" "$(ratio "$b" "$a")"

    if [ "$(id -u)" = 0 ]; then
      cold_live=() cold_verified=()
      for ((i = 0; i < cold_runs; i++)); do
        drop_caches
        cold_live+=("$(run_ms "$tool" "$text" "$dir")")
        drop_caches
        cold_verified+=("$(run_ms "$tool" --from-record --verify "$text" "$dir")")
      done
      a=$(printf '%s\n' "${cold_live[@]}" | median)
      b=$(printf '%s\n' "${cold_verified[@]}" | median)
      printf '%-11s %-9s %-24s %9s %9s %6s\n' "$tree" "$change" "cold, whole tokafind (ms)" "$a" "$b" \
        "$(ratio "$b" "$a")"
    fi
  done
done
echo "load average after: $(load)"
