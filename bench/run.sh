#!/usr/bin/env bash
# Throughput and memory benchmark of tarvel against plain copies and an FFmpeg remux.
#
#   bench/run.sh
#
# Builds tarvel and tarvel_bench_gen (Release) in build-bench/, and tarvel linked
# statically in build-bench-static/, generates a large ASF input (reused when present at
# the same size and packet size), warms the page cache with it and then measures in
# rounds. Every round runs each command below once, one after the other, so that a
# machine whose speed drifts (other jobs, frequency changes) slows all of them alike:
#
#   tarvel in out.vc1 -v1        output on the same disk as the input, removed after each run
#   tarvel in nul -v1            the whole demux, nothing written
#   cat in > out                 the same disk (GNU cat copies inside the kernel)
#   cat in > /dev/null
#   dd bs=128k in > out         a plain read/write copy, for comparison
#   ffmpeg ... -c copy -f vc1    video remux to /dev/null (when ffmpeg is installed)
#   the small-file case          200 runs of the sample (testdata/vc1ap_240x104.wmv) to nul
#                                and to a file, by tarvel, the static tarvel and cat
#
# Each ratio is taken within a round (time of the reference / time of tarvel: above 1,
# tarvel is faster), and the median of the per-round ratios is judged against its target,
# with their spread shown. Peak resident memory comes from separate runs under
# /usr/bin/time -v, for the large input, a smaller generated one and the sample, and for the
# large input listed frame by frame in the JSON report and drawn (-v3 --json --plot, the
# picture's size shown too), and for a file of over
# 2,000,000 small frames converted with and without --timestamps.
#
# Environment:
#   BENCH_SIZE_MB   size of the large input in MiB (default 2048)
#   BENCH_SMALL_MB  size of the second input for the memory check (default 100)
#   BENCH_PACKET    data packet size of the generated inputs in bytes (default 8192)
#   BENCH_FRAMES_MB size of the input of small frames in MiB (default 300: 2.1 million frames)
#   BENCH_RUNS      rounds (default 7)
#   BENCH_SMALL_RUNS  runs of the sample per command and round (default 200)
#   BENCH_DIR       where inputs and outputs go (default ${TMPDIR:-/tmp}/tarvel-bench)
#   BENCH_KEEP      1: keep the generated inputs for the next run (default: deleted)
#   BENCH_PROFILE   1: end with a profile of tarvel on the large input (perf record, to nul
#                   and to a file) and its system calls (strace -c)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build-bench
BUILD_STATIC=$ROOT/build-bench-static
SIZE_MB=${BENCH_SIZE_MB:-2048}
SMALL_MB=${BENCH_SMALL_MB:-100}
PACKET=${BENCH_PACKET:-8192}
RUNS=${BENCH_RUNS:-7}
SMALL_RUNS=${BENCH_SMALL_RUNS:-200}
DIR=${BENCH_DIR:-${TMPDIR:-/tmp}/tarvel-bench}
SAMPLE=$ROOT/testdata/vc1ap_240x104.wmv

die() { echo "run.sh: $*" >&2; exit 1; }
for v in SIZE_MB SMALL_MB PACKET RUNS SMALL_RUNS; do
  [[ ${!v} =~ ^[0-9]+$ && ${!v} -ge 1 ]] || die "BENCH_$v must be a positive integer"
done

if [[ ! -x /usr/bin/time ]]; then
  echo "Installing /usr/bin/time (Debian package 'time')..."
  apt-get install -y time >/dev/null || die "/usr/bin/time is missing and could not be installed"
fi

echo "== Building (Release) in $BUILD and, linked statically, in $BUILD_STATIC"
build() {  # dir targets... [-- cmake options]
  local dir=$1
  shift
  if [[ ! -f $dir/build.ninja ]]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF "${@:2}" >/dev/null
  fi
  cmake --build "$dir" --target $1 -j2 >"$dir/bench-build.log" 2>&1 || { cat "$dir/bench-build.log"; die "build failed"; }
  grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$dir/CMakeCache.txt" || echo "note: $dir is not a Release build"
}
build "$BUILD" "tarvel tarvel_bench_gen"
build "$BUILD_STATIC" tarvel -DTARVEL_STATIC=ON
TARVEL=$BUILD/tarvel
TARVEL_STATIC=$BUILD_STATIC/tarvel
GEN=$BUILD/bench/tarvel_bench_gen

mkdir -p "$DIR"

# make_input MiB -> path. The .info file is written only after a complete generation: its
# first line is the generator's report (second field: the file size), its second line a
# checksum of the generator's source and sample, so that a changed generator makes a new file.
GEN_STAMP=$(cat "$ROOT/bench/make_asf.cc" "$ROOT/testdata/vc1ap_240x104.vc1" | md5sum | cut -d' ' -f1)
make_input() {
  local mb=$1 small=${2:-} file=$DIR/bench_${1}M_${PACKET}${2:+_$2}.wmv
  local info=$file.info
  if [[ -f $file && -f $info ]] && [[ $(stat -c %s "$file") == "$(awk 'NR == 1 {print $2}' "$info")" ]] &&
     [[ $(sed -n 2p "$info") == "$GEN_STAMP" ]]; then
    echo "== Reusing $file" >&2
  else
    echo "== Generating $file ($mb MiB, $PACKET-byte packets)" >&2
    rm -f "$info"
    "$GEN" "$ROOT/testdata/vc1ap_240x104.vc1" "$file" "$mb" "$PACKET" $small >"$info.tmp"
    echo "$GEN_STAMP" >>"$info.tmp"
    mv "$info.tmp" "$info"
  fi
  head -1 "$info" >&2
  echo "$file"
}

IN=$(make_input "$SIZE_MB")
SMALL=$(make_input "$SMALL_MB")
FRAMES=$(make_input "${BENCH_FRAMES_MB:-300}" small)
IN_BYTES=$(stat -c %s "$IN")
OUT=$DIR/bench_out.vc1
CATOUT=$DIR/bench_out.copy
TMP=$(mktemp -d)
cleanup() {
  rm -rf "$TMP" "$OUT" "$CATOUT"
  if [[ ${BENCH_KEEP:-0} != 1 ]]; then rm -f "$IN" "$IN.info" "$SMALL" "$SMALL.info" "$FRAMES" "$FRAMES.info"; fi
}
trap cleanup EXIT

# Check once that the conversion really writes the frames the generator made, and that
# the static build writes the same bytes.
want_frames=$(head -1 "$IN.info" | sed -n 's/.* \([0-9]*\) frames .*/\1/p')
rm -f "$OUT" "$CATOUT"
"$TARVEL" "$IN" "$OUT" -v1 >"$TMP/check.txt"
"$TARVEL_STATIC" "$SAMPLE" "$CATOUT" -v1 >/dev/null
got_frames=$(sed -n 's/^Total Frames Written *: *\([0-9]*\).*/\1/p' "$TMP/check.txt")
if [[ "$got_frames" == "$want_frames" ]]; then
  echo "== Check: tarvel wrote all $got_frames frames of the input"
else
  echo "WARNING: tarvel wrote ${got_frames:-no} frames, the input holds $want_frames" >&2
fi
rm -f "$OUT"
"$TARVEL" "$SAMPLE" "$OUT" -v1 >/dev/null
cmp -s "$OUT" "$CATOUT" || echo "WARNING: the static build writes other bytes for the sample" >&2
rm -f "$OUT" "$CATOUT"

echo "== Warming the page cache"
cat "$IN" >/dev/null
cat "$SMALL" >/dev/null
cat "$SAMPLE" >/dev/null

names=("tarvel in out.vc1 -v1" "tarvel in nul -v1" "cat in > out" "cat in > /dev/null"
       "dd bs=128k in > out")
kinds=(tarvel_file tarvel_nul cat_file cat_nul dd)
if command -v ffmpeg >/dev/null; then
  names+=("ffmpeg -c copy -f vc1 /dev/null")
  kinds+=(ffmpeg)
fi
names+=("sample x$SMALL_RUNS: tarvel nul" "sample x$SMALL_RUNS: static tarvel nul"
        "sample x$SMALL_RUNS: cat > /dev/null" "sample x$SMALL_RUNS: tarvel out"
        "sample x$SMALL_RUNS: static tarvel out" "sample x$SMALL_RUNS: cat > out")
kinds+=(small_nul small_static_nul small_cat_nul small_file small_static_file small_cat_file)
index_of() {  # kind -> index in names, or nothing
  local i
  for i in "${!kinds[@]}"; do [[ ${kinds[$i]} == "$1" ]] && echo "$i"; done
  return 0
}

# small_loop binary|cat nul|file: SMALL_RUNS runs of the sample. Both the tarvel and the cat
# loops remove the output before each run (tarvel asks before replacing a file).
small_loop() {
  local what=$1 to=$2 k
  for ((k = 0; k < SMALL_RUNS; k++)); do
    if [[ $to == nul ]]; then
      if [[ $what == cat ]]; then cat "$SAMPLE" >/dev/null; else "$what" "$SAMPLE" nul -v1 >/dev/null; fi
    else
      rm -f "$OUT"
      if [[ $what == cat ]]; then cat "$SAMPLE" >"$OUT"; else "$what" "$SAMPLE" "$OUT" -v1 >/dev/null; fi
    fi
  done
}

measured() {
  case ${kinds[$1]} in
    tarvel_file) "$TARVEL" "$IN" "$OUT" -v1 >/dev/null ;;
    tarvel_nul) "$TARVEL" "$IN" nul -v1 >/dev/null ;;
    cat_file) cat "$IN" >"$CATOUT" ;;
    cat_nul) cat "$IN" >/dev/null ;;
    dd) dd if="$IN" of="$CATOUT" bs=128k status=none ;;
    ffmpeg) ffmpeg -nostdin -v error -i "$IN" -map 0:v -c copy -f vc1 -y /dev/null 2>>"$TMP/ffmpeg.log" ;;
    small_nul) small_loop "$TARVEL" nul ;;
    small_static_nul) small_loop "$TARVEL_STATIC" nul ;;
    small_cat_nul) small_loop cat nul ;;
    small_file) small_loop "$TARVEL" file ;;
    small_static_file) small_loop "$TARVEL_STATIC" file ;;
    small_cat_file) small_loop cat file ;;
  esac
}

# run_one index: one timed run; appends nanoseconds to $TMP/t.index. Writeback left by the
# previous run is flushed first, outside the timing.
run_one() {
  local i=$1 t0 t1
  rm -f "$OUT" "$CATOUT"
  sync
  t0=$(date +%s%N)
  measured "$i"
  t1=$(date +%s%N)
  echo "$((t1 - t0))" >>"$TMP/t.$i"
  rm -f "$OUT" "$CATOUT"
}

echo "== Timing $RUNS rounds of ${#names[@]} commands on $IN ($IN_BYTES bytes)"
for ((r = 1; r <= RUNS; r++)); do
  for i in "${!names[@]}"; do run_one "$i"; done
  echo "   round $r of $RUNS done"
done

median() { sort -g | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

echo
echo "Input: $IN_BYTES bytes ($((IN_BYTES / 1048576)) MiB, $PACKET-byte packets), $RUNS rounds"
echo "Host: $(nproc) cores, $(uname -r); page cache warm"
printf '%-40s %9s %8s %8s %8s\n' "command" "median s" "MB/s" "min s" "max s"
for i in "${!names[@]}"; do
  med=$(median <"$TMP/t.$i")
  lo=$(sort -n "$TMP/t.$i" | head -1)
  hi=$(sort -n "$TMP/t.$i" | tail -1)
  bytes=$IN_BYTES
  [[ ${kinds[$i]} == small_* ]] && bytes=0
  awk -v n="${names[$i]}" -v ns="$med" -v lo="$lo" -v hi="$hi" -v b="$bytes" 'BEGIN {
    if (b > 0) printf "%-40s %9.3f %8.1f %8.3f %8.3f\n", n, ns / 1e9, b / (ns / 1e9) / 1e6, lo / 1e9, hi / 1e9
    else printf "%-40s %9.3f %8s %8.3f %8.3f\n", n, ns / 1e9, "", lo / 1e9, hi / 1e9
  }'
done

# ratio label kind_a kind_b op goal: per round, time(b) / time(a); prints the median of
# these with their spread over the rounds, and judges the median against `op goal`
# (goal "-": shown for information only).
ratio() {
  local label=$1 a b op=$4 goal=$5
  a=$(index_of "$2")
  b=$(index_of "$3")
  if [[ -z $a || -z $b ]]; then
    printf '%-46s (not measured)\n' "$label"
    return
  fi
  paste "$TMP/t.$a" "$TMP/t.$b" | awk '{print $2 / $1}' >"$TMP/r"
  local med lo hi
  med=$(median <"$TMP/r")
  lo=$(sort -g "$TMP/r" | head -1)
  hi=$(sort -g "$TMP/r" | tail -1)
  awk -v n="$label" -v r="$med" -v lo="$lo" -v hi="$hi" -v op="$op" -v goal="$goal" 'BEGIN {
    if (goal == "-") verdict = "(info)"
    else {
      ok = (op == ">=") ? (r >= goal) : (r <= goal)
      verdict = sprintf("target %s %s: %s", op, goal,
        ok ? "PASS" : sprintf("MISS by %.1f%%", (op == ">=" ? goal - r : r - goal) / goal * 100))
    }
    printf "%-46s %6.3f  rounds %5.3f..%-6.3f %s\n", n, r, lo, hi, verdict
  }'
}
echo
echo "Speed ratios, time of the reference / time of tarvel (above 1: tarvel is faster):"
ratio "tarvel to nul vs cat > /dev/null" tarvel_nul cat_nul ">=" 1.0
ratio "tarvel to file vs cat > out" tarvel_file cat_file ">=" 0.75
ratio "tarvel to nul vs ffmpeg remux" tarvel_nul ffmpeg ">=" 2.2
ratio "tarvel to file vs dd bs=128k" tarvel_file dd ">=" -
if [[ -s $TMP/ffmpeg.log ]]; then
  echo "  (ffmpeg printed $(wc -l <"$TMP/ffmpeg.log") lines of warnings over $RUNS runs, e.g.: $(head -1 "$TMP/ffmpeg.log"))"
fi
echo
echo "Small file, $SMALL_RUNS runs of the sample: time of tarvel / time of cat (below 1: tarvel is faster):"
ratio "sample to nul: tarvel / cat > /dev/null" small_cat_nul small_nul "<=" 1.5
ratio "sample to nul: static tarvel / cat" small_cat_nul small_static_nul "<=" 1.5
ratio "sample to file: tarvel / cat > out" small_cat_file small_file "<=" -
ratio "sample to file: static tarvel / cat > out" small_cat_file small_static_file "<=" -

# Peak memory of tarvel on the large input, a smaller one and the sample.
rss() {
  /usr/bin/time -v -o "$TMP/rusage" "$@" >/dev/null
  awk -F': ' '/Maximum resident set size/ {print $2}' "$TMP/rusage"
}
echo
echo "tarvel peak resident memory (Maximum resident set size, target < 5120 kB):"
for input in "$IN" "$SMALL" "$SAMPLE"; do
  for bin in "$TARVEL" "$TARVEL_STATIC"; do
    m=$(rss "$bin" "$input" nul -v1)
    kind=dynamic
    [[ $bin == "$TARVEL_STATIC" ]] && kind=static
    printf '  %-8s input %10d bytes: %6d kB  %s\n' "$kind" "$(stat -c %s "$input")" "$m" \
      "$([[ $m -lt 5120 ]] && echo PASS || echo "MISS by $((m - 5120)) kB")"
  done
done
# The JSON report lists every frame as it is written: memory stays as flat.
m=$(rss "$TARVEL" "$IN" nul -v3 --json)
printf '  %-8s input %10d bytes: %6d kB  %s\n' "-v3 json" "$(stat -c %s "$IN")" "$m" \
  "$([[ $m -lt 5120 ]] && echo PASS || echo "MISS by $((m - 5120)) kB")"
# The picture keeps its columns only, so memory stays as flat and the file small.
m=$(rss "$TARVEL" "$IN" nul -v3 --json -y --plot="$TMP/plot.svg")
svg=$(stat -c %s "$TMP/plot.svg")
printf '  %-8s input %10d bytes: %6d kB  %s; picture %d bytes  %s\n' "+ plot" "$(stat -c %s "$IN")" "$m" \
  "$([[ $m -lt 5120 ]] && echo PASS || echo "MISS by $((m - 5120)) kB")" "$svg" \
  "$([[ $svg -lt 1000000 ]] && echo PASS || echo "MISS: 1 MB or more")"
# The timestamps file is written as the frames are: no memory per frame.
frames=$(head -1 "$FRAMES.info" | sed -n 's/.* \([0-9]*\) frames .*/\1/p')
for times in "" "--timestamps=$TMP/ts.txt"; do
  m=$(rss "$TARVEL" "$FRAMES" nul -v0 $times)
  printf '  %-8s %d small frames%s: %6d kB  %s\n' "frames" "$frames" "${times:+ with --timestamps}" "$m" \
    "$([[ $m -lt 5120 ]] && echo PASS || echo "MISS by $((m - 5120)) kB")"
done
[[ $(($(wc -l <"$TMP/ts.txt") - 1)) == "$frames" ]] || die "the timestamps file does not hold one line per frame"

if [[ ${BENCH_PROFILE:-0} == 1 ]]; then
  echo
  echo "Profile of tarvel on the large input (perf record -e cpu-clock; strace -c):"
  for to in nul "$OUT"; do
    rm -f "$OUT"
    echo "-- tarvel in ${to##*/} -v1: where the time goes"
    if command -v perf >/dev/null &&
       perf record -q -e cpu-clock -F 10000 -o "$TMP/perf.data" -- "$TARVEL" "$IN" "$to" -v1 >/dev/null 2>"$TMP/perf.err"; then
      perf report -i "$TMP/perf.data" --no-children --stdio --sort dso 2>/dev/null | grep -E '^ +[0-9]' | head -4
      perf report -i "$TMP/perf.data" --no-children --stdio --sort sym 2>/dev/null | grep -E '^ +[0-9]' | head -12
    else
      echo "   (perf is not usable here)"
    fi
    rm -f "$OUT"
    if command -v strace >/dev/null; then
      echo "-- system calls"
      strace -c -o "$TMP/strace.txt" "$TARVEL" "$IN" "$to" -v1 >/dev/null
      sed -n '3,6p' "$TMP/strace.txt"
    fi
    rm -f "$OUT"
  done
fi
