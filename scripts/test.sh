#!/usr/bin/env bash
# Installs what is missing (scripts/deps-test.sh), builds Evtrak and runs the whole test
# suite three times: a plain build, AddressSanitizer + UndefinedBehaviorSanitizer, and
# ThreadSanitizer for the threaded tests. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps-test.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== Build and test (RelWithDebInfo)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEVTRAK_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"

echo "== Build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DEVTRAK_SANITIZE=address,undefined \
      -DEVTRAK_BUILD_BENCH=OFF -DEVTRAK_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$jobs"

echo "== Build and test the threaded tests under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DEVTRAK_SANITIZE=thread \
      -DEVTRAK_BUILD_BENCH=OFF -DEVTRAK_CORE_TESTS_ONLY=OFF >/dev/null
# The label "threads" (tests/CMakeLists.txt) says which tests these are: build them all.
cmake --build build-tsan -j"$jobs"
# ThreadSanitizer needs a fixed address layout on kernels with high mmap entropy.
# Qt and glibc are not instrumented: tests/tsan.supp names what they synchronise unseen.
# Its Qt entries name functions found in the earlier access's stack, which the sanitizer
# rebuilds from a per-thread history: the longest history keeps that stack on a loaded
# machine (the default lost it while the window painted, and the report went unsuppressed).
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=7 suppressions=$PWD/tests/tsan.supp" \
  setarch "$(uname -m)" -R ctest --test-dir build-tsan --output-on-failure --no-tests=error -L threads -j"$jobs"
bash scripts/fuzz.sh

echo "== Debian package, installed and run in a throw-away root"
bash scripts/test-package.sh

# Runs scripts/<name>.sh unless <skip variable>=1 or the machine is not x86_64 (both tests
# boot an emulated PC).
qemu_test() {
  local name=$1 skip=$2 title=$3
  echo "== $title"
  if [ "${!skip:-0}" = 1 ]; then
    echo "SKIP $name : $skip=1"
  elif [ "$(uname -m)" != x86_64 ]; then
    echo "SKIP $name : machine $(uname -m), pas x86_64"
  else
    bash "scripts/$name.sh"
  fi
}
# The real-kernel test boots a virtual machine under software emulation (about 3 minutes,
# plus a 70 MB download the first time); EVTRAK_SKIP_KERNEL_TEST=1 leaves it out.
qemu_test test-kernel EVTRAK_SKIP_KERNEL_TEST "Test against the real Linux parallel-port drivers (QEMU)"
# Power cuts on the same emulated machine, with an ext4 disk (4 to 7 minutes for the 20
# cuts); EVTRAK_SKIP_POWERCUT_TEST=1 leaves it out, EVTRAK_POWERCUT_CUTS=100 runs longer.
qemu_test test-powercut EVTRAK_SKIP_POWERCUT_TEST "Power cuts on a real kernel (QEMU)"
echo "Tous les tests sont passés."
