#!/usr/bin/env bash
# Builds RODERUV and runs every test. Installs the Debian packages it needs.
# Exit status 0 only when every test passed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev python3-pyftpdlib vsftpd
               p7zip-full ziptool unzip zip curl xvfb xauth procps util-linux
               clang libclang-rt-14-dev)
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

build=${BUILD_DIR:-build}
jobs=$(nproc)
echo "== Configuring and building in $build/"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"

echo "== Running the tests"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
logs=$(mktemp -d)
ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 300 | tee "$logs/main.log"

# The libraries without the user interface again, under AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails its test.
asan=${ASAN_BUILD_DIR:-build-asan}
echo "== Building and running the non-GUI tests under ASan+UBSan in $asan/"
cmake -S . -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRODERUV_SANITIZE=ON \
      -DRODERUV_WITH_GUI=OFF -DRODERUV_WITH_BENCH=OFF >/dev/null
cmake --build "$asan" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$asan" --output-on-failure -j"$jobs" --timeout 600 | tee "$logs/asan.log"

# Every fuzz target over its seed corpus for a few seconds, as a regression test.
echo "== Fuzz targets, a few seconds each"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-5}"

# One closing line over both CTest runs (a failing test or fuzz finding has
# already stopped the script with a non-zero status).
read -r total failed < <(awk '/tests passed, [0-9]+ tests failed out of/ {
        f += $(NF-5); t += $NF } END { print t + 0, f + 0 }' "$logs"/*.log)
rm -rf "$logs"
echo "Summary: $((total - failed)) passed, $failed failed"
