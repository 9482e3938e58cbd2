#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) and runs each
# for a bounded time from the committed seed corpus. FUZZ_SECONDS (default 60) per
# target. Exits non-zero when a target finds a crash or a broken property; the input
# that did it is left in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
      -DEVTRAK_FUZZ=ON -DEVTRAK_BUILD_TESTS=OFF -DEVTRAK_BUILD_BENCH=OFF \
      -DEVTRAK_CORE_TESTS_ONLY=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_eventfile fuzz_inifile
for target in eventfile inifile; do
  echo "== fuzz_$target, ${seconds} s"
  work="build-fuzz/corpus-$target"
  mkdir -p "$work"
  # New inputs go to the work folder; the committed seeds are only read.
  # Undefined behaviour stops the run as a crash does.
  (cd build-fuzz && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      ./tests/fuzz/fuzz_$target \
      -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
      "corpus-$target" "../tests/fuzz/$target")
done
