#!/usr/bin/env bash
# Throughput and memory benchmark of tarvel against plain copies and an FFmpeg remux.
#
#   bench/run.sh
#
# Builds tarvel and tarvel_bench_gen (Release) in build-bench/, generates a large ASF input
# (reused when present at the same size), warms the page cache with it, and then times, in
# rounds that run every command once, each command BENCH_RUNS times:
#
#   tarvel in out.vc1 -v1        output on the same disk as the input, removed after each run
#   tarvel in nul -v1            the whole demux, nothing written
#   cat in > out                 the same disk
#   cat in > /dev/null
#   dd bs=128k in > out         a plain read/write copy, for comparison (cat uses copy_file_range)
#   ffmpeg ... -c copy -f vc1    video remux to /dev/null (when ffmpeg is installed)
#
# It prints the median wall time and MB/s (input bytes / time, MB = 10^6 bytes) of each,
# the three speed ratios with their targets, and tarvel's peak resident set size (from
# /usr/bin/time -v) for the large input and for a small one.
#
# Environment:
#   BENCH_SIZE_MB   size of the large input in MiB (default 2048)
#   BENCH_SMALL_MB  size of the second input for the memory check (default 256)
#   BENCH_RUNS      timed runs per command (default 5)
#   BENCH_DIR       where inputs and outputs go (default ${TMPDIR:-/tmp}/tarvel-bench)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build-bench
SIZE_MB=${BENCH_SIZE_MB:-2048}
SMALL_MB=${BENCH_SMALL_MB:-256}
RUNS=${BENCH_RUNS:-5}
DIR=${BENCH_DIR:-${TMPDIR:-/tmp}/tarvel-bench}

die() { echo "run.sh: $*" >&2; exit 1; }
[[ $SIZE_MB =~ ^[0-9]+$ && $SMALL_MB =~ ^[0-9]+$ && $RUNS =~ ^[0-9]+$ && $RUNS -ge 1 ]] ||
  die "BENCH_SIZE_MB, BENCH_SMALL_MB and BENCH_RUNS must be positive integers"

if [[ ! -x /usr/bin/time ]]; then
  echo "Installing /usr/bin/time (Debian package 'time')..."
  apt-get install -y time >/dev/null || die "/usr/bin/time is missing and could not be installed"
fi

echo "== Building (Release) in $BUILD"
if [[ ! -f $BUILD/build.ninja ]]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD" --target tarvel tarvel_bench_gen -j2 >"$BUILD/bench-build.log" 2>&1 ||
  { cat "$BUILD/bench-build.log"; die "build failed"; }
TARVEL=$BUILD/tarvel
GEN=$BUILD/bench/tarvel_bench_gen
grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$BUILD/CMakeCache.txt" ||
  echo "note: $BUILD is not a Release build"

mkdir -p "$DIR"

# make_input MiB -> path. The .info file is written only after a complete generation: its
# first line is the generator's report (second field: the file size), its second line a
# checksum of the generator's source and sample, so that a changed generator makes a new file.
GEN_STAMP=$(cat "$ROOT/bench/make_asf.cc" "$ROOT/testdata/vc1ap_240x104.vc1" | md5sum | cut -d' ' -f1)
make_input() {
  local mb=$1 file=$DIR/bench_${1}M.wmv
  local info=$file.info
  if [[ -f $file && -f $info ]] && [[ $(stat -c %s "$file") == "$(awk 'NR == 1 {print $2}' "$info")" ]] &&
     [[ $(sed -n 2p "$info") == "$GEN_STAMP" ]]; then
    echo "== Reusing $file" >&2
  else
    echo "== Generating $file ($mb MiB)" >&2
    rm -f "$info"
    "$GEN" "$ROOT/testdata/vc1ap_240x104.vc1" "$file" "$mb" >"$info.tmp"
    echo "$GEN_STAMP" >>"$info.tmp"
    mv "$info.tmp" "$info"
  fi
  head -1 "$info" >&2
  echo "$file"
}

IN=$(make_input "$SIZE_MB")
SMALL=$(make_input "$SMALL_MB")
IN_BYTES=$(stat -c %s "$IN")
OUT=$DIR/bench_out.vc1
CATOUT=$DIR/bench_out.copy
TMP=$(mktemp -d)
trap 'rm -rf "$TMP" "$OUT" "$CATOUT"' EXIT

# Check once that the conversion really writes the frames the generator made.
want_frames=$(head -1 "$IN.info" | sed -n 's/.* \([0-9]*\) frames .*/\1/p')
rm -f "$OUT"
"$TARVEL" "$IN" "$OUT" -v1 >"$TMP/check.txt"
got_frames=$(sed -n 's/^Total Frames Written *: *\([0-9]*\).*/\1/p' "$TMP/check.txt")
rm -f "$OUT"
if [[ "$got_frames" == "$want_frames" ]]; then
  echo "== Check: tarvel wrote all $got_frames frames of the input"
else
  echo "WARNING: tarvel wrote ${got_frames:-no} frames, the input holds $want_frames" >&2
fi

echo "== Warming the page cache"
cat "$IN" >/dev/null
cat "$SMALL" >/dev/null

# GNU cat (9.x) copies file to file with copy_file_range, inside the kernel; dd gives the
# figure of a plain read/write copy loop for comparison.
names=("tarvel in out.vc1 -v1" "tarvel in nul -v1" "cat in > out" "cat in > /dev/null"
       "dd bs=128k in > out")
if command -v ffmpeg >/dev/null; then names+=("ffmpeg -c copy -f vc1 /dev/null"); fi

# measured index: runs command number index under /usr/bin/time, with no shell in between,
# so that the peak resident set size reported is the command's own.
measured() {
  local t=(/usr/bin/time -v -o "$TMP/rusage")
  case $1 in
    0) "${t[@]}" "$TARVEL" "$IN" "$OUT" -v1 >/dev/null ;;
    1) "${t[@]}" "$TARVEL" "$IN" nul -v1 >/dev/null ;;
    2) "${t[@]}" cat "$IN" >"$CATOUT" ;;
    3) "${t[@]}" cat "$IN" >/dev/null ;;
    4) "${t[@]}" dd if="$IN" of="$CATOUT" bs=128k status=none ;;
    5) "${t[@]}" ffmpeg -nostdin -v error -i "$IN" -map 0:v -c copy -f vc1 -y /dev/null 2>>"$TMP/ffmpeg.log" ;;
  esac
}

# run_one index: one timed run; appends nanoseconds to $TMP/t.index and the peak RSS (kB)
# to $TMP/m.index. Writeback left by the previous run is flushed first, outside the timing.
run_one() {
  local i=$1 t0 t1
  rm -f "$OUT" "$CATOUT"
  sync
  t0=$(date +%s%N)
  measured "$i"
  t1=$(date +%s%N)
  echo "$((t1 - t0))" >>"$TMP/t.$i"
  awk -F': ' '/Maximum resident set size/ {print $2}' "$TMP/rusage" >>"$TMP/m.$i"
  awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$TMP/rusage" >>"$TMP/c.$i"
  rm -f "$OUT" "$CATOUT"
}

echo "== Timing $RUNS rounds of ${#names[@]} commands on $IN ($IN_BYTES bytes)"
for ((r = 1; r <= RUNS; r++)); do
  for i in "${!names[@]}"; do run_one "$i"; done
  echo "   round $r of $RUNS done"
done

median() { sort -n "$1" | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

declare -a med_ns min_ns max_ns cpu rss
for i in "${!names[@]}"; do
  cpu[i]=$(median "$TMP/c.$i")
  med_ns[i]=$(median "$TMP/t.$i")
  min_ns[i]=$(sort -n "$TMP/t.$i" | head -1)
  max_ns[i]=$(sort -n "$TMP/t.$i" | tail -1)
  rss[i]=$(sort -n "$TMP/m.$i" | tail -1)
done

echo
echo "Input: $IN_BYTES bytes ($((IN_BYTES / 1048576)) MiB), $RUNS runs per command, median wall time"
echo "Host: $(nproc) cores, $(uname -r); page cache warm"
printf '%-32s %9s %8s %8s %8s %8s %12s\n' "command" "median s" "MB/s" "min s" "max s" "cpu s" "peak RSS kB"
for i in "${!names[@]}"; do
  awk -v n="${names[$i]}" -v ns="${med_ns[$i]}" -v lo="${min_ns[$i]}" -v hi="${max_ns[$i]}" \
    -v c="${cpu[$i]}" -v b="$IN_BYTES" -v m="${rss[$i]}" 'BEGIN {
    printf "%-32s %9.3f %8.1f %8.3f %8.3f %8.2f %12d\n", n, ns / 1e9, b / (ns / 1e9) / 1e6, lo / 1e9, hi / 1e9, c, m
  }'
done
echo "(wall times; cpu s = median user + system time of the command itself)"

# ratio name a b target op: speed ratio = time(b) / time(a), of the medians (judged) and,
# for a view of the spread, of the fastest runs.
ratio() {
  local i=$2 j=$3
  awk -v n="$1" -v ta="${med_ns[$i]}" -v tb="${med_ns[$j]}" -v la="${min_ns[$i]}" -v lb="${min_ns[$j]}" \
    -v goal="$4" -v op="$5" 'BEGIN {
    r = tb / ta
    ok = (op == ">=") ? (r >= goal) : (r > goal)
    printf "%-36s %6.3f  (target %2s %-3s) %-16s fastest runs: %6.3f\n", n, r, op, goal,
      ok ? "PASS" : sprintf("MISS by %.1f%%", (goal - r) / goal * 100), lb / la
  }'
}
echo
echo "Speed ratios (throughput of the first over the second, from the median times):"
ratio "tarvel-to-file / cat-to-file" 0 2 0.9 ">="
ratio "tarvel-to-file / dd-to-file (info)" 0 4 0.9 ">="
ratio "tarvel-to-nul / cat-to-/dev/null" 1 3 0.5 ">="
if [[ ${#names[@]} -gt 5 ]]; then
  ratio "tarvel-to-nul / ffmpeg remux" 1 5 1 ">"
  if [[ -s $TMP/ffmpeg.log ]]; then
    echo "  (ffmpeg printed $(wc -l <"$TMP/ffmpeg.log") lines of warnings over $RUNS runs, e.g.: $(head -1 "$TMP/ffmpeg.log"))"
  fi
else
  echo "tarvel-to-nul / ffmpeg remux                 (ffmpeg not installed)"
fi

# Peak memory of tarvel on the large input (over all its timed runs) and on the small one.
/usr/bin/time -v -o "$TMP/rusage" "$TARVEL" "$SMALL" nul -v1 >/dev/null
small_rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$TMP/rusage")
big_rss=$(( rss[0] > rss[1] ? rss[0] : rss[1] ))
SMALL_BYTES=$(stat -c %s "$SMALL")
echo
echo "tarvel peak resident memory (Maximum resident set size, target < 8192 kB):"
for pair in "$IN_BYTES:$big_rss" "$SMALL_BYTES:$small_rss"; do
  b=${pair%%:*} m=${pair##*:}
  printf '  input %6d MiB: %6d kB  %s\n' $((b / 1048576)) "$m" "$([[ $m -lt 8192 ]] && echo PASS || echo "MISS by $((m - 8192)) kB")"
done
