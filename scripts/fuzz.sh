#!/usr/bin/env bash
# Builds the fuzz targets with clang/libFuzzer and runs each one.
#   scripts/fuzz.sh [seconds-per-target]   (default 60)
# New findings are left as crash-* files in build-fuzz/; each one found so far
# has become an ordinary unit test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
ensure_packages clang libclang-rt-14-dev zlib1g-dev
seconds=${1:-60}
out=${FUZZ_DIR:-build-fuzz}
mkdir -p "$out"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I.)

declare -A extra_libs=()
declare -A sources=(
    [ini]="tests/fuzz/ini_fuzz.cpp settings/IniFile.cpp settings/Unitpom.cpp settings/CBase64Utils.cpp platform/CodePage.cpp platform/Paths.cpp platform/AppDir_linux.cpp platform/FileSystem_posix.cpp"
    [base64]="tests/fuzz/base64_fuzz.cpp settings/CBase64Utils.cpp"
    [codepage]="tests/fuzz/codepage_fuzz.cpp platform/CodePage.cpp"
)
# Targets of the other subsystems register themselves in tests/fuzz/targets.sh.
if [ -f tests/fuzz/targets.sh ]; then
    source tests/fuzz/targets.sh
fi

failed=0
for name in $(printf '%s\n' "${!sources[@]}" | sort); do
    echo "== fuzz target $name (${seconds}s)"
    # shellcheck disable=SC2086
    clang++ "${flags[@]}" ${sources[$name]} ${extra_libs[$name]:-} -o "$out/$name"
    corpus=tests/fuzz/corpus/$name
    work=$out/corpus-$name
    mkdir -p "$work"
    if ! "$out/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix="$out/$name-" "$work" "$corpus" >"$out/$name.log" 2>&1; then
        echo "FINDING in $name:"; tail -n 40 "$out/$name.log"
        failed=1
    else
        grep -E '^Done|#[0-9]+.*DONE' "$out/$name.log" | tail -n 1 || true
    fi
done
exit $failed
