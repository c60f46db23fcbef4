#!/usr/bin/env bash
# The walk against find: times tokafind (fuzzy and similar) over a synthetic
# tree of 1,000,000 entries against `find DIR` and `find DIR | fzf --filter`,
# warm cache, median of 5 runs each, and reports the ratios and the peak
# resident memory.  Usage: bench/walk.sh [BUILD_DIR]
#
# The tree is built once (1000 directories of 1000 files with names of the
# kinds people keep) and reused; set TOKA_WALK_TREE to put it elsewhere.
# Files in one directory are hard links of one empty file: the walk never
# looks at inodes, and links are made eight times faster than new files.
set -euo pipefail

build=${1:-build}
tool="$build/tools/tokafind"
tree=${TOKA_WALK_TREE:-/tmp/toka-walk-tree}
text=${TOKA_WALK_TEXT:-invoice}
runs=5

if [ ! -x "$tool" ]; then
  echo "walk.sh: $tool is missing; build the tokafind target first" >&2
  exit 1
fi

if ! command -v fzf >/dev/null || [ ! -x /usr/bin/time ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq fzf time >/dev/null
fi

if [ ! -e "$tree.done" ]; then
  echo "building $tree (1000 x 1000 entries, once)..."
  rm -rf "$tree"
  mkdir -p "$tree"
  # perl is part of every Debian system; the names are fixed by the seed.
  perl -e '
    use strict;
    my $root = shift;
    srand(42);
    my @words = qw(invoice report Rechnung notes backup photo IMG DSC song track draft
                   letter Bewerbung Urlaub meeting budget thesis chapter scan screenshot
                   Vertrag summary presentation holiday family project config readme
                   changelog Steuer Kontoauszug recipe manual lecture slides data);
    my @exts = qw(jpg pdf txt docx mp3 png odt xlsx cpp h log md json csv zip mp4 odp);
    my @dirs = qw(Fotos Documents Music Projects Archive Downloads Scans Work Private src);
    for my $d (0 .. 999) {
      my $dir = sprintf("%s/%s %04d-%02d %03d", $root, $dirs[$d % @dirs], 2000 + $d % 24, 1 + $d % 12, $d);
      mkdir $dir or die "$dir: $!";
      my $seed = "$dir/.seed";
      open(my $fh, ">", $seed) or die; close $fh;
      for my $i (1 .. 999) {
        my $w = $words[int(rand(@words))];
        my $name;
        my $k = $i % 4;
        if ($k == 0) { $name = sprintf("%s_%04d%02d%02d_%06d", $w, 1995 + int(rand(30)), 1 + int(rand(12)), 1 + int(rand(28)), int(rand(999999))); }
        elsif ($k == 1) { $name = sprintf("%s-%s-v%d", $w, $words[int(rand(@words))], int(rand(9))); }
        elsif ($k == 2) { $name = sprintf("%s %d (%d)", $w, int(rand(5000)), $i); }
        else { $name = sprintf("%s%05d", $w, $i); }
        $name .= "_$i" . "." . $exts[int(rand(@exts))];
        link($seed, "$dir/$name") or die "$dir/$name: $!";
      }
    }' "$tree"
  touch "$tree.done"
fi

entries=$(find "$tree" | wc -l)
echo "tree: $tree, $entries paths (find), search text '$text'"

# Median wall time in milliseconds of $runs runs of the command in "$@",
# after one warm-up run.
median_ms() {
  local times=() start end
  "$@" >/dev/null 2>&1
  for _ in $(seq $runs); do
    start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    end=$EPOCHREALTIME
    times+=("$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", (e - s) * 1000 }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

peak_kb() {
  /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1
}

find_only() { find "$tree"; }
find_fzf() { find "$tree" | fzf --filter "$text"; }

t_fuzzy=$(median_ms "$tool" "$text" "$tree")
t_similar=$(median_ms "$tool" --similar "$text" "$tree")
t_find=$(median_ms find_only)
t_fzf=$(median_ms find_fzf)

m_fuzzy=$(peak_kb "$tool" "$text" "$tree")
m_similar=$(peak_kb "$tool" --similar "$text" "$tree")
m_find=$(peak_kb find "$tree")

scanned=$("$tool" "$text" "$tree" 2>&1 >/dev/null | tail -1)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf '%-28s %10s %10s\n' "command" "median ms" "max RSS KB"
printf '%-28s %10s %10s\n' "tokafind (fuzzy)" "$t_fuzzy" "$m_fuzzy"
printf '%-28s %10s %10s\n' "tokafind --similar" "$t_similar" "$m_similar"
printf '%-28s %10s %10s\n' "find DIR" "$t_find" "$m_find"
printf '%-28s %10s %10s\n' "find DIR | fzf --filter" "$t_fzf" "-"
echo "tokafind: $scanned"
echo "ratio fuzzy / find:           $(ratio "$t_fuzzy" "$t_find")   (target <= 1.0, at most 1.3)"
echo "ratio similar / find:         $(ratio "$t_similar" "$t_find")"
echo "ratio fuzzy / (find | fzf):   $(ratio "$t_fuzzy" "$t_fzf")   (target well below 1)"
