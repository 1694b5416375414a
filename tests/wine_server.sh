#!/bin/sh
# One wineserver for a whole run of the Windows tests.
#
# Under Wine every test is a program of its own. The wineserver that Wine starts by itself
# goes down as soon as no Wine program runs (Debian starts it with -p0), and between two
# tests none runs for a moment: the server starts shutting down and closes its socket, and
# a test started then waits seconds for a new server or fails at once with no output. The
# server and Wine's system processes also keep the standard error of the test that started
# them open until they end, and ctest waits for that test until then. So before any test
# this starts one server that stays up (until `stop`, or 30 s after the last Wine program
# if `stop` never comes), and one run of the program starts the system processes, both
# with their output apart from ctest's. A new prefix is first set up by one run of the
# program under a server of its own.
#
# usage: wine_server.sh start <wineserver> <prefix> <program and arguments...>
#        wine_server.sh stop <wineserver> <prefix>
set -u
action=$1
server=$2
WINEPREFIX=$3
export WINEPREFIX
shift 3

# Runs the program with its output in a file, then shows that output; the program's status.
run_apart() {
  log=$(mktemp)
  "$@" </dev/null >"$log" 2>&1
  status=$?
  cat "$log"
  rm -f "$log"
  return $status
}

case $action in
  start)
    # A server left by the build's test discovery or by an earlier run may be going down.
    "$server" -k 2>/dev/null
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      run_apart "$@" || exit 1
      "$server" -k
    fi
    "$server" -p30 </dev/null >/dev/null 2>&1 || { echo "wineserver did not start"; exit 1; }
    run_apart "$@"
    ;;
  stop)
    "$server" -k
    ;;
  *)
    echo "usage: $0 start|stop <wineserver> <prefix> [program...]" >&2
    exit 2
    ;;
esac
