# Sourced by the walk benchmarks: timing helpers, and the two synthetic trees
# of about 1,000,000 entries each, built once under $base (each with a marker
# file) and reused.  build_trees NAME...: builds those of the named trees
# (many-small, few-large) that are not there yet; other names are passed over.

median() { sort -n | awk '{ a[NR] = $1 } END { if (NR == 0) print "-"; else print a[int((NR + 1) / 2)] }'; }
ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }'
}
load() { cut -d' ' -f1-3 /proc/loadavg; }

# run_ms COMMAND...: its wall time in milliseconds, output discarded.
run_ms() {
  local start end
  start=${EPOCHREALTIME/./}
  "$@" >/dev/null 2>&1
  end=${EPOCHREALTIME/./}
  printf '%d.%d\n' $(((end - start) / 1000)) $(((end - start) % 1000 / 100))
}

drop_caches() {
  sync
  echo 3 >/proc/sys/vm/drop_caches
}

# build_tree SHAPE DIR: many-small is 100 folders of 100 folders of 10
# folders of 10 files (each middle folder also holds the one file that its
# 100 files link to); few-large is 1000 folders of 1000 files.  Names of the
# kinds people keep, fixed by the seed.
build_tree() {
  rm -rf "$2"
  mkdir -p "$2"
  perl -e '
    use strict;
    my ($shape, $root) = @ARGV;
    srand(42);
    my @words = qw(invoice report Rechnung notes backup photo IMG DSC song track draft
                   letter Bewerbung Urlaub meeting budget thesis chapter scan screenshot
                   Vertrag summary presentation holiday family project config readme
                   changelog Steuer Kontoauszug recipe manual lecture slides data);
    my @exts = qw(jpg pdf txt docx mp3 png odt xlsx cpp h log md json csv zip mp4 odp);
    my @dirs = qw(Fotos Documents Music Projects Archive Downloads Scans Work Private src);
    my $n = 0;
    sub word { $words[int(rand(@words))] }
    sub file_name {
      my $i = ++$n;
      my $w = word();
      my $k = $i % 4;
      my $name;
      if ($k == 0) { $name = sprintf("%s_%04d%02d%02d_%06d", $w, 1995 + int(rand(30)), 1 + int(rand(12)), 1 + int(rand(28)), int(rand(999999))); }
      elsif ($k == 1) { $name = sprintf("%s-%s-v%d", $w, word(), int(rand(9))); }
      elsif ($k == 2) { $name = sprintf("%s %d (%d)", $w, int(rand(5000)), $i); }
      else { $name = sprintf("%s%05d", $w, $i % 100000); }
      return $name . "_$i." . $exts[int(rand(@exts))];
    }
    sub dir_name {
      my $d = shift;
      sprintf("%s %04d-%02d %03d", $dirs[$d % @dirs], 2000 + $d % 24, 1 + $d % 12, $d);
    }
    sub new_dir { mkdir $_[0] or die "$_[0]: $!"; }
    sub new_seed {
      my $seed = "$_[0]/" . file_name();
      open(my $fh, ">", $seed) or die "$seed: $!";
      close $fh;
      return $seed;
    }
    sub links {
      my ($seed, $dir, $count) = @_;
      for (1 .. $count) {
        my $name = "$dir/" . file_name();
        link($seed, $name) or die "$name: $!";
      }
    }
    if ($shape eq "few-large") {
      for my $d (0 .. 999) {
        my $dir = "$root/" . dir_name($d);
        new_dir($dir);
        links(new_seed($dir), $dir, 999);
      }
    } else {
      for my $a (0 .. 99) {
        my $top = "$root/" . dir_name($a);
        new_dir($top);
        for my $b (0 .. 99) {
          my $mid = "$top/" . word() . " $b";
          new_dir($mid);
          my $seed = new_seed($mid);
          for my $c (0 .. 9) {
            my $leaf = "$mid/" . word() . "-$c";
            new_dir($leaf);
            links($seed, $leaf, 10);
          }
        }
      }
    }' "$1" "$2"
}

build_trees() {
  mkdir -p "$base"
  local t
  for t in "$@"; do
    case "$t" in many-small | few-large) ;; *) continue ;; esac
    if [ ! -e "$base/$t.done" ]; then
      echo "building $base/$t (once)..."
      build_tree "$t" "$base/$t"
      touch "$base/$t.done"
    fi
  done
}
