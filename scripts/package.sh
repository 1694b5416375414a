#!/usr/bin/env bash
# Builds the packages into out/: the Debian package tarvel_<version>_<arch>.deb and, where
# the MinGW-w64 cross compiler and cmake/mingw-w64.cmake are there, the Windows zip
# tarvel-<version>-win64.zip. Both are Release builds. The Debian package's dependencies
# are worked out by dpkg-shlibdeps (dpkg-dev); `bash scripts/install-deps.sh test`
# installs everything this needs.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
mkdir -p out
rm -f out/tarvel_*.deb out/tarvel-*-win64.zip

echo "== Debian package"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF >/dev/null
cmake --build build-release -j"$jobs"
rm -rf build-release/packages
cpack --config build-release/CPackConfig.cmake -G DEB -B "$PWD/build-release/packages" >/dev/null
cp build-release/packages/tarvel_*.deb out/

if [ -f cmake/mingw-w64.cmake ] && command -v x86_64-w64-mingw32-g++ >/dev/null; then
  echo "== Windows zip"
  cmake -S . -B build-win-release -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF -DTARVEL_STATIC=ON >/dev/null
  cmake --build build-win-release -j"$jobs"
  rm -rf build-win-release/packages
  cpack --config build-win-release/CPackConfig.cmake -G ZIP -B "$PWD/build-win-release/packages" >/dev/null
  cp build-win-release/packages/tarvel-*.zip out/
else
  echo "== Windows zip skipped (needs cmake/mingw-w64.cmake and x86_64-w64-mingw32-g++)"
fi
for package in out/tarvel_*.deb out/tarvel-*-win64.zip; do
  if [ -f "$package" ]; then echo "built $package"; fi
done
