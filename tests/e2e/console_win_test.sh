#!/bin/sh
# The Windows build's overwrite prompt on a real console, under Wine: Wine gives a program
# a console when it runs on a terminal, so the run goes through `script` on a
# pseudo-terminal and y is typed once the prompt shows. Answering y for an output that
# names the input, through any path, fails with the system's sharing-violation text and
# status 1, the input unchanged; for another existing file it replaces that file. An error
# shows on the console once, and goes to standard error as well when that is a file.
# usage: console_win_test.sh <emulator command...> -- <tarvel.exe> <testdata folder>
set -u
emulator=""
while [ "$1" != "--" ]; do emulator="$emulator '$1'"; shift; done
exe=$2
testdata=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$testdata/vc1ap_240x104.wmv" "$dir/in.wmv"
failures=0

# answer <output>: runs a conversion of in.wmv to <output>, types y at the prompt; sets
# $status, and leaves what the console showed in $dir/console.
answer() {
  rm -f "$dir/console" "$dir/keys"
  mkfifo "$dir/keys"
  (cd "$dir" && exec script -qec "$emulator '$exe' -v1 in.wmv '$1'" /dev/null <"$dir/keys" >"$dir/console" 2>&1) &
  pid=$!
  exec 3>"$dir/keys"
  tries=0
  until grep -q "Overwrite?" "$dir/console" 2>/dev/null || [ $tries -ge 300 ]; do
    tries=$((tries + 1))
    sleep 0.1
  done
  printf y >&3
  status=0
  wait $pid || status=$?
  exec 3>&-
}

fail() {
  echo "FAIL ($1): $2"
  failures=$((failures + 1))
}

leaf=$(basename "$dir")
for output in in.wmv IN.WMV "../$leaf/in.wmv" ".\\in.wmv"; do
  answer "$output"
  [ "$status" -eq 1 ] || fail "$output" "status $status, expected 1"
  grep -q "Unable to overwrite output file: [A-Za-z]" "$dir/console" || fail "$output" "no system text after the refusal"
  cmp -s "$dir/in.wmv" "$testdata/vc1ap_240x104.wmv" || fail "$output" "the input changed"
done

echo old >"$dir/other.vc1"
answer other.vc1
expected_size=$(cut -d' ' -f1 "$testdata/expected/sample_convert_v1.stream")
[ "$status" -eq 0 ] || fail other.vc1 "status $status, expected 0"
[ "$(wc -c <"$dir/other.vc1")" -eq "$expected_size" ] || fail other.vc1 "not replaced by the stream"

for err in "2>err.log" ""; do
  rm -f "$dir/err.log"
  (cd "$dir" && exec script -qec "$emulator '$exe' missing.wmv $err" /dev/null </dev/null >"$dir/console" 2>&1)
  shown=$(grep -c "Unable to open input file missing.wmv: [A-Za-z]" "$dir/console")
  [ "$shown" -eq 1 ] || fail "missing.wmv $err" "the error shows $shown times on the console"
  if [ -n "$err" ]; then
    grep -q "Unable to open input file missing.wmv: [A-Za-z]" "$dir/err.log" || fail "missing.wmv $err" "not in err.log"
  fi
done

[ "$failures" -eq 0 ] && echo "console prompt ok"
exit "$failures"
