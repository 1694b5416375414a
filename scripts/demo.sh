#!/usr/bin/env bash
# Builds tarvel and converts the bundled sample to out/vc1ap_240x104.vc1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target tarvel
mkdir -p out
rm -f out/vc1ap_240x104.vc1
./build/tarvel testdata/vc1ap_240x104.wmv out/vc1ap_240x104.vc1
