# Shared by the scripts: installs missing Debian packages, builds the fuzz
# targets.
# shellcheck shell=bash

# ensure_packages PKG... : installs the missing ones (as root), or names them.
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "These Debian packages are missing; install them as root first:" >&2
        echo "  apt-get install ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/tmp/roderuv-apt.log 2>&1; then
        apt-get update -qq >/tmp/roderuv-apt.log 2>&1 || true
        if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >>/tmp/roderuv-apt.log 2>&1; then
            echo "apt-get failed; see /tmp/roderuv-apt.log" >&2
            tail -n 20 /tmp/roderuv-apt.log >&2
            return 1
        fi
    fi
}

# Packages needed to build the program.
BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev zlib1g-dev libssl-dev
                fonts-dejavu-core fonts-liberation gnupg)

# build_fuzzers DIR SECONDS : configures DIR with the libFuzzer targets (clang,
# each registered as a CTest test labelled fuzz that runs SECONDS over its
# seed corpus) and builds them.
build_fuzzers() {
    local dir=$1 seconds=$2
    ensure_packages clang libclang-rt-14-dev zlib1g-dev cmake ninja-build
    cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRODERUV_WITH_FUZZERS=ON -DFUZZ_SECONDS="$seconds" \
          -DRODERUV_WITH_TESTS=OFF -DRODERUV_WITH_GUI=OFF -DRODERUV_WITH_BENCH=OFF \
          -DRODERUV_SANITIZE=OFF -DRODERUV_TSAN=OFF >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
