#!/usr/bin/env bash
# Installs the Debian packages tarvel needs, when they are missing. Runs apt-get as root,
# or through sudo.
#   bash scripts/install-deps.sh build   building and running the program
#   bash scripts/install-deps.sh test    that, plus the tests and the packages (default)
set -euo pipefail
need=${1:-test}
case $need in
  build | test) ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

# Building: a C++ compiler, CMake and Ninja.
build_packages=(g++ cmake ninja-build)
# Testing: GoogleTest; FFmpeg for the interop tests; mkvtoolnix to mux a stream with its
# timestamps file in the timing tests; clang for the sanitizer and fuzzing
# builds (its runtime package is added below, for whichever clang the distribution ships);
# dpkg-dev for the Debian package's dependencies and lintian to check the package;
# MinGW-w64 and Wine for the Windows build and its tests; mkvtoolnix for the timestamps
# remux; Python's JSON Schema checker for the --json documents; librsvg's rsvg-convert to draw
# the bitrate pictures the tests make; clang-format for the format check.
test_packages=(clang libgtest-dev googletest ffmpeg mkvtoolnix dpkg-dev lintian g++-mingw-w64-x86-64 wine64
               python3-jsonschema librsvg2-bin clang-format)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
updated=""
apt_update_once() {
  [ -n "$updated" ] || $sudo apt-get update -qq
  updated=1
}
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  apt_update_once
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_missing "${build_packages[@]}"
[ "$need" = test ] || exit 0
install_missing "${test_packages[@]}"

# The sanitizer and libFuzzer runtime of the default clang: the unversioned package where
# the distribution has one, else the one named after clang's major version. Where neither
# exists, clang's own packages carry the runtime.
major=$(clang --version | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1)
for runtime in libclang-rt-dev "libclang-rt-$major-dev"; do
  dpkg -s "$runtime" >/dev/null 2>&1 && exit 0
done
apt_update_once
for runtime in libclang-rt-dev "libclang-rt-$major-dev"; do
  if apt-cache show "$runtime" >/dev/null 2>&1; then
    install_missing "$runtime"
    exit 0
  fi
done
