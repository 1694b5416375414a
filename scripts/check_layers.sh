#!/usr/bin/env bash
# Lists, per program directory, the directories its files include from, and fails when an
# include runs back up: each layer may include its own files and the layers below it.
# Layers, lowest first: platform, io, report, vc1, asf, demux, cli.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(platform io report vc1 asf demux cli)

rank_of() {
  local i
  for i in "${!layers[@]}"; do
    if [ "${layers[$i]}" = "$1" ]; then
      echo "$i"
      return
    fi
  done
  echo -1
}

status=0
for dir in "${layers[@]}"; do
  rank=$(rank_of "$dir")
  # Every '#include "x/..."' of the directory's files, as "file:x".
  uses=$(grep -Ho '^#include "[^"/]*/' "$dir"/*.cc "$dir"/*.h 2>/dev/null |
    sed -e 's/:#include "/:/' -e 's/\/$//' || true)
  echo "$dir: $(echo "$uses" | cut -d: -f2 | sort | uniq -c | awk '{printf "%s%s(%s)", sep, $2, $1; sep=", "}')"
  while IFS=: read -r file target; do
    [ -n "$file" ] || continue
    target_rank=$(rank_of "$target")
    if [ "$target_rank" -lt 0 ] || [ "$target_rank" -gt "$rank" ]; then
      echo "  $file includes $target/: above the $dir layer" >&2
      status=1
    fi
  done <<<"$uses"
done
exit $status
