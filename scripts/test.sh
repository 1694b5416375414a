#!/usr/bin/env bash
# Builds tarvel and runs every test: the include layers, the format (.clang-format), the
# regular build, the same suite under AddressSanitizer + UndefinedBehaviorSanitizer, the
# Windows build (MinGW-w64) with its suite under Wine, a short libFuzzer run per target,
# and the packages (the Debian package checked by lintian and by an install of the Release
# build).
# FUZZ_SECONDS sets the fuzzing time per target (default 20; 0 skips fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
jobs=$(nproc)

echo "== Include layers"
bash scripts/check_layers.sh

echo "== Format (.clang-format)"
find asf cli demux io platform report vc1 tests fuzz bench -type f \( -name '*.cc' -o -name '*.h' \) -print0 |
  xargs -0 clang-format --dry-run --Werror

echo "== Regular build and tests"
cmake -S . -B build -G Ninja -DTARVEL_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build-asan -G Ninja -DTARVEL_WERROR=ON -DTARVEL_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== Windows build (MinGW-w64) and tests under Wine"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DTARVEL_WERROR=ON >/dev/null
cmake --build build-win -j"$jobs"
ctest --test-dir build-win --output-on-failure -j"$jobs"

seconds=${FUZZ_SECONDS:-20}
if [ "$seconds" -gt 0 ]; then
  echo "== libFuzzer: $seconds s per target"
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DTARVEL_FUZZ=ON \
    -DTARVEL_SANITIZE=ON -DTARVEL_TESTS=OFF >/dev/null
  cmake --build build-fuzz -j"$jobs"
  for target in build-fuzz/fuzz/fuzz_*; do
    name=$(basename "$target")
    work=$(mktemp -d)
    cp -r "fuzz/corpus/$name/." testdata/vc1ap_240x104.wmv testdata/vc1ap_240x104.vc1 "$work/"
    "$target" -max_total_time="$seconds" -dict=fuzz/tarvel.dict -artifact_prefix="$work/" \
      -print_final_stats=1 "$work" 2>&1 | tail -n 3
    rm -rf "$work"
  done
fi
echo "== Packages"
bash scripts/package.sh
sh tests/install_test.sh build-release
lintian --fail-on error out/tarvel_*.deb
# The package as installed: the program answers with its version, the manual page reads.
unpacked=$(mktemp -d)
dpkg-deb -x out/tarvel_*.deb "$unpacked"
"$unpacked/usr/bin/tarvel" --version
man -l "$unpacked/usr/share/man/man1/tarvel.1.gz" >/dev/null
rm -rf "$unpacked"

echo "All tests passed."
