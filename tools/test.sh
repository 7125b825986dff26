#!/usr/bin/env bash
# Builds and runs every test twice: an ordinary build, then one with AddressSanitizer and
# UndefinedBehaviorSanitizer, each with every warning in our own code an error. Window tests run
# in a virtual X server.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

jobs=$(nproc)

run_suite() {
    local folder=$1; shift
    cmake -S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTAL_WERROR=ON "$@"
    cmake --build "$folder" -j "$jobs"
    xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir "$folder" --output-on-failure -j "$jobs" --timeout 300
}

run_suite build

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:suppressions=$PWD/tools/sanitizer/asan.supp"
export LSAN_OPTIONS="suppressions=$PWD/tools/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$PWD/tools/sanitizer/ubsan.supp"
run_suite build-sanitize -DKESTAL_SANITIZE=ON
