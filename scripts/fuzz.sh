#!/usr/bin/env bash
# Builds the fuzz targets with clang/libFuzzer in build-fuzz/ and runs each
# one (CTest, label fuzz).
#   scripts/fuzz.sh [seconds-per-target]   (default 60)
# New findings are left as crash-* files in build-fuzz/tests/fuzz/; each one
# found so far has become an ordinary unit test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
out=${FUZZ_DIR:-build-fuzz}
build_fuzzers "$out" "${1:-60}"
ctest --test-dir "$out" --no-tests=error --output-on-failure -L fuzz -j"$(nproc)"
