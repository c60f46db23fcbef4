#!/usr/bin/env bash
# The walk benchmark: tokafind and the window's own search against the bare
# floor of a walk and against find, bfs and fd, on /usr and on two synthetic
# trees of about 1,000,000 entries each (many small directories; few large
# ones).  Usage: bench/walk.sh [BUILD_DIR]
#
# Contenders on each tree, output to /dev/null:
#   tokafind -j1      the one-thread walk, search text rated
#   tokafind          the walk on every core (the default)
#   bare walk         bench/bare_walk.cpp: getdents64 on one thread, nothing
#                     else; the floor of a one-thread walk
#   find, bfs         every path printed
#   fd -u             every path printed (no ignore rules, hidden files too)
#   window            the window's search, offscreen (bench_window_search.cpp),
#                     timed from the click to the end of the search; warm only
# Warm cache: one warm-up round, then the median of TOKA_WALK_RUNS (10)
# rounds.  Cold cache (root only): the page cache dropped before every run,
# median of TOKA_WALK_COLD_RUNS (3).  The contenders take turns within each
# round, so that a change of the machine's load meets all of them alike.
#
# First of all the ranking check: on /usr and on the many-small tree, the
# ranks (standard output) and the "entries scanned" line of tokafind -j1,
# -j2 and -j8 must be byte for byte the same, for both measures, two search
# texts and two list sizes; the script fails at the first difference.
#
# The synthetic trees are built once and reused, under TOKA_WALK_TREE
# (default /tmp/toka-walk), each with a marker file.  Files are hard links of
# a few empty files: the walks never look at inodes, and links are made
# eight times faster than new files.  TOKA_WALK_TREES picks some of the trees
# ("many-small few-large usr"); TOKA_WALK_CHECK=0 skips the ranking check.
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
tool="$build/tools/tokafind"
bare="$build/bench/bare_walk"
window="$build/bench/window_search"
base=${TOKA_WALK_TREE:-/tmp/toka-walk}
text=${TOKA_WALK_TEXT:-invoice}
usr_text=${TOKA_WALK_USR_TEXT:-config}
runs=${TOKA_WALK_RUNS:-10}
cold_runs=${TOKA_WALK_COLD_RUNS:-3}
trees=${TOKA_WALK_TREES:-many-small few-large usr}
check=${TOKA_WALK_CHECK:-1}

for program in "$tool" "$bare" "$window"; do
  if [ ! -x "$program" ]; then
    echo "walk.sh: $program is missing; build the tokafind, bare_walk and window_search targets first" >&2
    exit 1
  fi
done
if ! command -v bfs >/dev/null || ! command -v fdfind >/dev/null || [ ! -x /usr/bin/time ]; then
  "$here/../scripts/install-deps" --bench
fi
fd=$(command -v fdfind) # Debian's name for fd

# --- the synthetic trees ------------------------------------------------------

. "$here/common.bash"

tree_dir() {
  case "$1" in
  usr) echo /usr ;;
  *) echo "$base/$1" ;;
  esac
}
tree_text() {
  case "$1" in
  usr) echo "$usr_text" ;;
  *) echo "$text" ;;
  esac
}

build_trees $trees

# --- helpers ------------------------------------------------------------------

# verdict RATIO LIMIT: "ok" when RATIO <= LIMIT, "MISSED" otherwise.
verdict() {
  awk -v r="$1" -v l="$2" 'BEGIN { if (r == "-") print ""; else if (r <= l) print "ok"; else print "MISSED" }'
}
scanned_line() { "$@" 2>&1 >/dev/null | tail -1; }

c_j1() { "$tool" -j1 "$2" "$1"; }
c_jn() { "$tool" "$2" "$1"; }
c_bare() { "$bare" "$1"; }
c_find() { find "$1"; }
c_bfs() { bfs "$1"; }
c_fd() { "$fd" -u . "$1"; }
contenders=(j1 jn bare find bfs fd)
declare -A label=([j1]="tokafind -j1" [jn]="tokafind (default -j$((2 * $(nproc))))" [bare]="bare walk (1 thread)"
  [find]="find" [bfs]="bfs" [fd]="fd -u" [window]="window (offscreen)")

# --- the ranking check --------------------------------------------------------

# check_ranks DIR TEXT: the ranks and the count of -j1, -j2 and -j8 alike.
check_ranks() {
  local dir=$1 text=$2 out=$base/.ranks measure rows j
  mkdir -p "$out"
  for measure in --fuzzy --similar; do
    for rows in 30 200; do
      local args=(--rows "$rows")
      [ "$measure" = --similar ] && args+=(--similar)
      for j in 1 2 8; do
        "$tool" -j"$j" "${args[@]}" "$text" "$dir" >"$out/$j.out" 2>"$out/$j.err"
      done
      for j in 2 8; do
        if ! cmp -s "$out/1.out" "$out/$j.out" || ! cmp -s <(tail -1 "$out/1.err") <(tail -1 "$out/$j.err"); then
          echo "RANKING CHECK FAILED: tokafind -j1 and -j$j differ on ${args[*]} '$text' $dir" >&2
          diff <(cat "$out/1.out" <(tail -1 "$out/1.err")) <(cat "$out/$j.out" <(tail -1 "$out/$j.err")) |
            head -20 >&2
          exit 1
        fi
      done
      printf '  %-10s %-9s rows %3s  %-9s %4s ranks, %s: -j1 = -j2 = -j8\n' "$(basename "$dir")" "$measure" \
        "$rows" "'$text'" "$(wc -l <"$out/1.out")" "$(tail -1 "$out/1.err")"
    done
  done
  rm -rf "$out"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"
echo "  $(awk '/MemTotal/ { printf "%.0f GB", $2 / 1048576 }' /proc/meminfo) RAM, Linux $(uname -r)," \
  "trees on $(df -T "$base" | awk 'NR == 2 { print $2 }'); load at start: $(load)"
echo "tools: $(find --version | head -1), bfs $(bfs --version | head -1 | cut -d' ' -f2)," \
  "fd $("$fd" --version | cut -d' ' -f2)"

if [ "$check" = 1 ]; then
  echo
  echo "ranking check (tokafind -j1 / -j2 / -j8: ranks and entries scanned):"
  for t in usr many-small; do
    [ "$t" = usr ] || [ -e "$base/$t.done" ] || continue
    for s in "$text" "$usr_text"; do check_ranks "$(tree_dir "$t")" "$s"; done
  done
fi

# --- the timings --------------------------------------------------------------

cold=0
if [ "$(id -u)" -eq 0 ] && [ -w /proc/sys/vm/drop_caches ]; then cold=1; fi

declare -A warm=() coldms=() rss=() entries=() bare_entries=()
xdg=$(mktemp -d)
trap 'rm -rf "$xdg"' EXIT

for t in $trees; do
  dir=$(tree_dir "$t")
  s=$(tree_text "$t")
  entries[$t]=$(scanned_line "$tool" "$s" "$dir" | awk '{ print $1 }')
  bare_entries[$t]=$(scanned_line "$bare" "$dir" | awk '{ print $1 }')
  echo
  echo "tree $t: $dir, ${entries[$t]} entries scanned (bare walk: ${bare_entries[$t]}), search text '$s'"

  # The window takes requests on its standard input, one search per line.
  coproc WIN { exec env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$xdg" XDG_RUNTIME_DIR="$xdg" \
    "$window" --on-request "$s" "$dir" 2>"$xdg/window.err"; }
  declare -A times=()
  for round in $(seq 0 "$runs"); do
    for c in "${contenders[@]}" window; do
      if [ "$c" = window ]; then
        echo >&"${WIN[1]}"
        if ! read -r ms <&"${WIN[0]}"; then
          echo "walk.sh: the window benchmark ended early:" >&2
          cat "$xdg/window.err" >&2
          exit 1
        fi
      else
        ms=$(run_ms "c_$c" "$dir" "$s")
      fi
      [ "$round" -eq 0 ] || times[$c]+="$ms "
    done
  done
  exec {WIN[1]}>&-
  wait "$WIN_PID"
  window_entries=$(tail -1 "$xdg/window.err" | awk '{ print $1 }')
  if [ "$window_entries" != "${entries[$t]}" ]; then
    echo "walk.sh: the window scanned $window_entries entries, tokafind ${entries[$t]}" >&2
    exit 1
  fi
  for c in "${contenders[@]}" window; do warm[$t,$c]=$(printf '%s\n' ${times[$c]} | median); done
  unset times

  if [ "$cold" = 1 ]; then
    declare -A times=()
    for _ in $(seq "$cold_runs"); do
      for c in "${contenders[@]}"; do
        drop_caches
        times[$c]+="$(run_ms "c_$c" "$dir" "$s") "
      done
    done
    for c in "${contenders[@]}"; do coldms[$t,$c]=$(printf '%s\n' ${times[$c]} | median); done
    unset times
  fi

  rss[$t,jn]=$(/usr/bin/time -f '%M' "$tool" "$s" "$dir" 2>&1 >/dev/null | tail -1)
  rss[$t,j1]=$(/usr/bin/time -f '%M' "$tool" -j1 "$s" "$dir" 2>&1 >/dev/null | tail -1)

  printf '  %-22s %10s %10s\n' "median ms" "warm" "cold"
  for c in "${contenders[@]}" window; do
    printf '  %-22s %10s %10s\n' "${label[$c]}" "${warm[$t,$c]}" "${coldms[$t,$c]:--}"
  done
  printf '  peak RSS: tokafind %.1f MB, tokafind -j1 %.1f MB; load now: %s\n' \
    "$(awk -v k="${rss[$t,jn]}" 'BEGIN { print k / 1024 }')" "$(awk -v k="${rss[$t,j1]}" 'BEGIN { print k / 1024 }')" \
    "$(load)"
done

# --- the ratios ---------------------------------------------------------------

echo
[ "$cold" = 1 ] || echo "cold cache not measured: dropping the page cache needs root (median of $cold_runs runs as root)"
echo "ratios (medians of $runs warm runs, $cold_runs cold runs):"
printf '  %-32s' ""
for t in $trees; do printf ' %11s' "$t"; done
printf '   %s\n' "target"
# row LABEL LIMIT A_TABLE A_KEY B_TABLE B_KEY
row() {
  local name=$1 limit=$2 r
  local -n ta=$3 tb=$5
  printf '  %-32s' "$name"
  for t in $trees; do
    r=$(ratio "${ta[$t,$4]:--}" "${tb[$t,$6]:--}")
    if [ -n "$limit" ] && [ "$r" != - ]; then r="$r $(verdict "$r" "$limit")"; fi
    printf ' %11s' "$r"
  done
  printf '   %s\n' "${limit:+<= $limit}"
}
row "warm: tokafind / find" 0.6 warm jn warm find
row "cold: tokafind / fd -u" 0.8 coldms jn coldms fd
row "warm: tokafind -j1 / bare walk" "" warm j1 warm bare
row "warm: tokafind / tokafind -j1" "" warm jn warm j1
row "warm: window / tokafind" 1.1 warm window warm jn
row "warm: tokafind / fd -u" "" warm jn warm fd
row "warm: tokafind / bfs" "" warm jn warm bfs
printf '  %-32s' "peak RSS of tokafind (MB)"
for t in $trees; do printf ' %11s' "$(awk -v k="${rss[$t,jn]}" 'BEGIN { printf "%.1f", k / 1024 }')"; done
printf '   %s\n' "< 30"
echo "load at the end: $(load)"
