#!/usr/bin/env bash
# Builds RODERUV and runs every test. Installs the Debian packages it needs.
# Exit status 0 only when every test passed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev python3-pyftpdlib vsftpd
               p7zip-full ziptool unzip zip curl xvfb xauth procps util-linux)
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

build=${BUILD_DIR:-build}
jobs=$(nproc)
echo "== Configuring and building in $build/"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"

echo "== Running the tests"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 300
