#!/usr/bin/env bash
# Installs what is missing, builds, and runs `trximage demo` (no input file needed).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target trximage
./build/tools/trximage demo "$@"
