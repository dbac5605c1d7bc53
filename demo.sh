#!/usr/bin/env bash
# Installs what is missing, builds, and runs `trximage demo` (no input file needed).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
# The build type test.sh uses, so that the two commands share one build.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target trximage
./build/tools/trximage demo "$@"
