#!/usr/bin/env bash
# The copy against cp: times tokacopy (the program's file-operation engine)
# and `cp -a` copying one 1 GiB file of random data and a tree of 20,000
# small files into an empty folder on the same file system, warm cache,
# median of 5 runs each (after one warm-up run), and prints the ratios and
# the CPU time, which the load of other programs disturbs less.
# Usage: bench/copy.sh [BUILD_DIR]
#
# Like cp, the engine leaves a fresh copy in the page cache for the system
# to write back (it flushes only a move's copy, before the source goes, and
# a copy that replaces an item).  The third column, `cp -a` followed by
# `sync -f` on the destination, shows what a flush would cost.  Every run
# starts with the previous copy removed and the file system synced, outside
# the time.
#
# The data is built once and reused, under the build folder; set
# TOKA_COPY_DATA to put it elsewhere (on the file system to measure).
set -euo pipefail

build=${1:-build}
tool="$build/tools/tokacopy"
data=${TOKA_COPY_DATA:-$build/copy-bench}
runs=${TOKA_COPY_RUNS:-5}

if [ ! -x "$tool" ]; then
  echo "copy.sh: $tool is missing; build the tokacopy target first" >&2
  exit 1
fi

src="$data/src"
dest="$data/dest"
if [ ! -e "$data/.done" ]; then
  echo "building $src (1 GiB file, 20,000 small files, once)..."
  rm -rf "$data"
  mkdir -p "$src/tree"
  head -c 1G /dev/urandom > "$src/big"
  # 20 folders of 10 folders of 100 files, 0 to 8 KiB each (about 80 MB):
  # pieces of one random block, so that no two files are alike.
  perl -e '
    use strict;
    my $root = shift;
    srand(7);
    my $block = join("", map { chr(int(rand(256))) } 1 .. 65536);
    for my $a (0 .. 19) {
      for my $b (0 .. 9) {
        my $dir = sprintf("%s/dir%02d/sub%d", $root, $a, $b);
        system("mkdir", "-p", $dir) == 0 or die "$dir";
        for my $i (0 .. 99) {
          my $size = int(rand(8193));
          open(my $fh, ">:raw", "$dir/file$i.dat") or die "$dir/file$i.dat: $!";
          print $fh substr($block, int(rand(65536 - $size)), $size);
          close $fh or die;
        }
      }
    }' "$src/tree"
  sync -f "$src"
  touch "$data/.done"
fi

if [ ! -x /usr/bin/time ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq time >/dev/null
fi

# Runs the command in "$@" copying into an empty, synced $dest and prints its
# wall time and its CPU time (user + system) in milliseconds.
timed_run() {
  rm -rf "$dest"
  mkdir -p "$dest"
  sync -f "$dest"
  /usr/bin/time -o "$data/.time" -f '%e %U %S' "$@" >/dev/null
  awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' "$data/.time"
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The three commands take turns, so that a change of the machine's load
# meets all of them alike; one warm-up round first.  Each runs through
# bash, which costs all of them the same few milliseconds.
commands=(engine cp_plain cp_synced)
engine() { "$tool" "$1" "$2/"; }
cp_plain() { cp -a "$1" "$2"; }
cp_synced() { cp -a "$1" "$2" && sync -f "$2"; }
export -f engine cp_plain cp_synced
export tool

files=$(find "$src/tree" -type f | wc -l)
echo "median of $runs runs, wall time (CPU time: user + system) in ms"
printf '%-28s %16s %16s %16s %8s %10s\n' "case" "tokacopy" "cp -a" "cp -a; sync -f" "vs cp" "vs cp+sync"
for item in big tree; do
  declare -A wall=() cpu=()
  for round in $(seq 0 "$runs"); do
    for c in "${commands[@]}"; do
      read -r w u < <(timed_run bash -c "$c \"\$1\" \"\$2\"" bash "$src/$item" "$dest")
      [ "$round" -eq 0 ] && continue
      wall[$c]+="$w "
      cpu[$c]+="$u "
    done
  done
  declare -A mw=() mc=()
  for c in "${commands[@]}"; do
    mw[$c]=$(printf '%s\n' ${wall[$c]} | median)
    mc[$c]=$(printf '%s\n' ${cpu[$c]} | median)
  done
  label="1 GiB file"
  [ "$item" = tree ] && label="tree of $files small files"
  printf '%-28s %16s %16s %16s %8s %10s\n' "$label" \
    "${mw[engine]} (${mc[engine]})" "${mw[cp_plain]} (${mc[cp_plain]})" "${mw[cp_synced]} (${mc[cp_synced]})" \
    "$(ratio "${mw[engine]}" "${mw[cp_plain]}")" "$(ratio "${mw[engine]}" "${mw[cp_synced]}")"
  unset wall cpu mw mc
done
rm -rf "$dest" "$data/.time"
echo "target: tokacopy at most 1.3x the wall time of cp -a for the 1 GiB file, 1.2x for the tree"
