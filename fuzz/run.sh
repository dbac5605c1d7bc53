#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, makes their seed corpora and runs each for
# a bounded time. Exits non-zero when a target finds a crash, a leak or a timeout.
#   fuzz/run.sh [seconds per target] [--ci]      (default 30)
# With --ci the open target only replays its seed corpus: OpenImageIO itself can be made
# to allocate gigabytes by a few mutated bytes (not our allocation, but libFuzzer counts
# it), and CI must not fail by chance. The other targets fuzz for the given time.
# Crash inputs are left in build-fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
ci=0
[ "${2:-}" = "--ci" ] && ci=1

# clang and libFuzzer's runtime, from Debian, when missing.
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
scripts/deps.sh

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRX_BUILD_FUZZ=ON -DTRX_BUILD_TESTS=OFF -DTRX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target trx_fuzz_seeds trx_fuzz_jpeg_records trx_fuzz_open trx_fuzz_buffers

seeds="$build/seeds"
rm -rf "$seeds"
"$build/fuzz/trx_fuzz_seeds" "$seeds"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in jpeg_records open buffers; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  asan=abort_on_error=0:detect_leaks=1
  # OpenImageIO is not instrumented and its PNG reader leaks on some damaged files;
  # those leaks are suppressed, ours are not. The slow unwinder is needed to see
  # OpenImageIO's frames under a leaked block.
  if [ "$target" = open ]; then
    export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0"
    asan=$asan:fast_unwind_on_malloc=0
  fi
  budget=(-max_total_time="$seconds")
  if [ "$target" = open ] && [ $ci -eq 1 ]; then
    budget=(-runs=0)
    echo "== $target: seed corpus replay"
  else
    echo "== $target: ${seconds}s"
  fi
  if ! ASAN_OPTIONS=$asan "$build/fuzz/trx_fuzz_$target" "$corpus" "$seeds/$target" \
      "${budget[@]}" -timeout=60 -rss_limit_mb=2560 -max_len=65536 \
      -artifact_prefix="$artifacts/" -print_final_stats=1 2>"$build/fuzz-$target.log"; then
    tail -n 60 "$build/fuzz-$target.log"
    echo "fuzz target $target failed; inputs in $artifacts" >&2
    status=1
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|cov:' "$build/fuzz-$target.log" | tail -n 3
  fi
  unset LSAN_OPTIONS
done
exit $status
