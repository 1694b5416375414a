#!/usr/bin/env bash
# Builds tarvel (Release, in build-demo/) and converts the bundled sample to
# out/vc1ap_240x104.vc1. Installs only what building needs: a C++ compiler, CMake, Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF >/dev/null
cmake --build build-demo --target tarvel
mkdir -p out
rm -f out/vc1ap_240x104.vc1
./build-demo/tarvel testdata/vc1ap_240x104.wmv out/vc1ap_240x104.vc1
