#!/bin/sh
# The Windows build's overwrite prompt on a real console, under Wine: Wine gives a program
# a console when it runs on a terminal, so the run goes through `script` on a
# pseudo-terminal and y is typed once the prompt shows there. An output that names the
# input, through any path, is refused before any prompt, status 1, the input unchanged;
# for another existing file y replaces that file. An error goes to standard error once:
# on the console when that is standard error, into the file when it is redirected.
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
  status=0
  (cd "$dir" && exec script -qec "$emulator '$exe' -v1 in.wmv '$output'" /dev/null </dev/null >"$dir/console" 2>&1) || status=$?
  [ "$status" -eq 1 ] || fail "$output" "status $status, expected 1"
  grep -q "Error: Output file .* is the input file; nothing converted." "$dir/console" || fail "$output" "no refusal"
  ! grep -q "Overwrite?" "$dir/console" || fail "$output" "asked before the refusal"
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
  [ "$shown" -eq "$([ -n "$err" ] && echo 0 || echo 1)" ] || fail "missing.wmv $err" "the error shows $shown times on the console"
  if [ -n "$err" ]; then
    grep -q "Unable to open input file missing.wmv: [A-Za-z]" "$dir/err.log" || fail "missing.wmv $err" "not in err.log"
  fi
done

[ "$failures" -eq 0 ] && echo "console prompt ok"
exit "$failures"
