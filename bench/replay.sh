#!/usr/bin/env bash
# The recorded walk's benchmark: answering from a record against walking
# live, on /usr and on the synthetic tree of 1,000,000 entries in large
# directories (bench/common.bash), and replaying 2.5 million entries (both
# synthetic trees and /usr as the roots of one walk).  Usage:
# bench/replay.sh [BUILD_DIR]
#
#   check      tokafind --from-record prints byte for byte what tokafind
#              prints live (ranks and count), both measures, with and
#              without a rating filter; the script fails at a difference
#   size       the record's bytes per listed entry
#   warm/cold  tokafind live against tokafind --from-record, whole runs
#              (the record read from the cache folder, checked, replayed);
#              warm: median of TOKA_REPLAY_RUNS (10) after one warm-up;
#              cold: page cache dropped before each run, median of
#              TOKA_REPLAY_COLD_RUNS (3)
#   memory     peak RSS of tokafind --from-record against the record's size
#   in process replay_timing: the replay alone (with the record's
#              letter-pair index), the replay that reads every name, and
#              the replay with the bigram signatures the window computes
#              for search as you type, against the live walk in the same
#              process (medians)
#   10 million replay_timing --synthetic: a record of 10,000,000 entries
#              named like few-large's, both measures, indexed against
#              reading every name (medians)
#   typing     window_typing: keystroke to refreshed table in the window,
#              offscreen, on the 1,000,000-entry tree (median)
#   plocate    the indexed anchor: updatedb of the tree, then a substring
#              query (exact substrings only, no typos forgiven)
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
tool="$build/tools/tokafind"
timing="$build/bench/replay_timing"
typing="$build/bench/window_typing"
base=${TOKA_WALK_TREE:-/tmp/toka-walk}
runs=${TOKA_REPLAY_RUNS:-10}
cold_runs=${TOKA_REPLAY_COLD_RUNS:-3}

for program in "$tool" "$timing" "$typing"; do
  if [ ! -x "$program" ]; then
    echo "replay.sh: $program is missing; build the tokafind, replay_timing and window_typing targets first" >&2
    exit 1
  fi
done
if ! command -v plocate >/dev/null || [ ! -x /usr/bin/time ]; then
  "$here/../scripts/install-deps" --bench
fi
. "$here/common.bash"
build_trees many-small few-large

cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT
export XDG_CACHE_HOME="$cache/cache"

echo "load average before: $(load)"
printf '\n%-12s %-28s %10s %10s %7s\n' tree measure live replay ratio
for tree in usr few-large; do
  dir=$([ "$tree" = usr ] && echo /usr || echo "$base/$tree")
  text=$([ "$tree" = usr ] && echo config || echo invoice)
  "$tool" --record "$text" "$dir" >/dev/null 2>&1

  # The check: the record answers as the live walk does.
  for args in "" "--similar" "-t f --rows 200" "--similar -e pdf"; do
    # shellcheck disable=SC2086
    live=$("$tool" $args "$text" "$dir" 2>&1)
    # shellcheck disable=SC2086
    replayed=$("$tool" --from-record $args "$text" "$dir" 2>&1 | sed 's/ (from the walk of .*)$//')
    if [ "$live" != "$replayed" ]; then
      echo "replay.sh: tokafind --from-record $args $text $dir differs from the live walk" >&2
      exit 1
    fi
  done

  listed=$("$tool" --list-records | awk -F'\t' -v d="$dir/" '$5 == d { print $3, $4 }')
  read -r entries bytes <<<"$listed"
  printf '%-12s %-28s %10s %10s %7s\n' "$tree" "record bytes per entry" "$entries" "$bytes" \
    "$(awk -v b="$bytes" -v e="$entries" 'BEGIN { printf "%.1f", b / e }')"

  run_ms "$tool" "$text" "$dir" >/dev/null
  run_ms "$tool" --from-record "$text" "$dir" >/dev/null
  warm_live=() warm_replay=()
  for ((i = 0; i < runs; i++)); do
    warm_live+=("$(run_ms "$tool" "$text" "$dir")")
    warm_replay+=("$(run_ms "$tool" --from-record "$text" "$dir")")
  done
  a=$(printf '%s\n' "${warm_live[@]}" | median)
  b=$(printf '%s\n' "${warm_replay[@]}" | median)
  printf '%-12s %-28s %10s %10s %7s\n' "$tree" "warm, whole tokafind (ms)" "$a" "$b" "$(ratio "$b" "$a")"

  if [ "$(id -u)" = 0 ]; then
    cold_live=() cold_replay=()
    for ((i = 0; i < cold_runs; i++)); do
      drop_caches
      cold_live+=("$(run_ms "$tool" "$text" "$dir")")
      drop_caches
      cold_replay+=("$(run_ms "$tool" --from-record "$text" "$dir")")
    done
    a=$(printf '%s\n' "${cold_live[@]}" | median)
    b=$(printf '%s\n' "${cold_replay[@]}" | median)
    printf '%-12s %-28s %10s %10s %7s\n' "$tree" "cold, whole tokafind (ms)" "$a" "$b" "$(ratio "$b" "$a")"
  fi

  rss=$(/usr/bin/time -f %M "$tool" --from-record "$text" "$dir" 2>&1 >/dev/null | tail -1)
  printf '%-12s %-28s %10s %10s %7s\n' "$tree" "peak RSS / record (MB)" "$((rss / 1024))" \
    "$((bytes / 1048576))" "+$(((rss * 1024 - bytes) / 1048576))"

  declare -A replay_ms=() unindexed_ms=()
  # "replay TEXT MEASURE THREADS MS COUNT", "unindexed" the same, then
  # "live TEXT MEASURE MS COUNT".
  while read -r kind t measure a b rest; do
    case "$kind" in
    replay) replay_ms[$measure]=$b ;;
    unindexed) unindexed_ms[$measure]=$b ;;
    live)
      printf '%-12s %-28s %10s %10s %7s\n' "$tree" "in process, $measure (ms)" "$a" \
        "${replay_ms[$measure]}" "$(ratio "${replay_ms[$measure]}" "$a")"
      printf '%-12s %-28s %10s %10s %7s\n' "$tree" "  reading every name" "$a" \
        "${unindexed_ms[$measure]}" "$(ratio "${unindexed_ms[$measure]}" "$a")"
      ;;
    esac
  done < <("$timing" --live --unindexed --runs "$runs" --root "$dir" "$text")
  while read -r kind t measure threads ms count; do
    [ "$kind" = replay ] && printf '%-12s %-28s %10s %10s\n' "$tree" "  with signatures, $measure" "" "$ms"
  done < <("$timing" --signatures --runs "$runs" --root "$dir" "$text")
done

echo
echo "2.5 million entries: both synthetic trees and /usr, one walk"
"$timing" --signatures --runs "$runs" --root "$base/many-small" --root "$base/few-large" --root /usr invoice |
  awk '$1 == "record" { printf "  %d entries, %.1f bytes each, parsed in %s ms\n", $2, $4, $5 }
       $1 == "signatures" { printf "  signatures computed in %s ms\n", $2 }
       $1 == "replay" { printf "  replay with signatures, %s: %s ms\n", $3, $5 }'
"$timing" --live --runs 5 --root "$base/many-small" --root "$base/few-large" --root /usr invoice |
  awk '$1 == "replay" { r[$3] = $5 } $1 == "live" { printf "  replay without signatures, %s: %s ms; live walk %s ms; ratio %.2f\n", $3, r[$3], $4, r[$3] / $4 }'

echo
echo "10 million entries: a synthetic record (replay_timing --synthetic), indexed / reading every name"
"$timing" --synthetic 10000000 --unindexed --runs "$runs" invoice report |
  awk '$1 == "written" { printf "  written (letter-pair index included) in %s ms\n", $2 }
       $1 == "record" { printf "  %d entries, %.1f bytes each, parsed in %s ms\n", $2, $4, $5 }
       $1 == "replay" { r[$2 " " $3] = $5 }
       $1 == "unindexed" { k = $2 " " $3; printf "  %s: %s / %s ms = %.2f\n", k, r[k], $5, r[k] / $5 }'

echo
echo "search as you type in the window, 1,000,000 entries:"
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$cache/config" "$typing" "$base/few-large" invoice report config.h \
  2>&1 >/dev/null | grep median | sed 's/^/  keystroke to table: /'

echo
echo "plocate (index of exact substrings), few-large:"
db="$cache/plocate.db"
up=$(run_ms updatedb -l 0 -U "$base/few-large" -o "$db")
q=()
for ((i = 0; i < runs; i++)); do q+=("$(run_ms plocate -d "$db" invoice)"); done
echo "  updatedb ${up} ms, query $(printf '%s\n' "${q[@]}" | median) ms (median of $runs)"
echo "load average after: $(load)"
