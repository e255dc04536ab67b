#!/usr/bin/env bash
# Builds RODERUV and runs every test. Installs the Debian packages it needs.
# Exit status 0 only when every test run passed and found tests to run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev python3-pyftpdlib vsftpd
               p7zip-full ziptool unzip zip pigz curl xvfb xauth procps util-linux
               clang libclang-rt-14-dev
               g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 googletest
               fonts-wine nsis
               dpkg-dev libgpg-error-mingw-w64-dev libgcrypt-mingw-w64-dev libassuan-mingw-w64-dev
               libksba-mingw-w64-dev libnpth-mingw-w64-dev
               # TLS: the test servers' certificates, pyftpdlib's TLS, and the
               # GnuTLS under Wine's SChannel (only a recommendation of wine's)
               openssl python3-openssl libgnutls30
               # systemd-analyze, which checks the service and timer
               systemd)
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

jobs=$(nproc)
# Everything a test needs is installed above: a real server, package or
# program that a test cannot have fails it rather than skipping it.
export RODERUV_REQUIRE_ALL=1
logs=$(mktemp -d)
ftp_pid=
ftp_dir=
# Also ends the Windows stage's Wine server, Xvfb and FTP server if the
# script stops inside it.
cleanup() {
    stop_ftp_server
    if [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
    if [ -n "${xvfb_pid:-}" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$logs"
}
trap cleanup EXIT
runs=()

# start_ftp_server : pyftpdlib on 127.0.0.1 (a port of the system's choice)
# serving a fresh folder, for the Windows client's upload test; its address,
# user, password and folder (as Windows programs under Wine see it) go into
# RODERUV_FTP_*.
start_ftp_server() {
    ftp_dir=$(mktemp -d)
    /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p 0 -w -d "$ftp_dir" -u roderuv -P tajne-heslo \
        >"$logs/pyftpdlib.log" 2>&1 &
    ftp_pid=$!
    local port="" i
    for i in $(seq 100); do
        port=$(sed -n 's/.*starting FTP server on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$logs/pyftpdlib.log")
        [ -n "$port" ] && break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        echo "pyftpdlib did not start:" >&2
        cat "$logs/pyftpdlib.log" >&2
        return 1
    fi
    export RODERUV_FTP_SERVER=127.0.0.1:$port RODERUV_FTP_USER=roderuv \
           RODERUV_FTP_PASSWORD=tajne-heslo RODERUV_FTP_FOLDER="$(winepath -w "$ftp_dir")"
}

stop_ftp_server() {
    if [ -n "$ftp_pid" ]; then
        kill "$ftp_pid" 2>/dev/null || true
        wait "$ftp_pid" 2>/dev/null || true
        ftp_pid=
    fi
    if [ -n "$ftp_dir" ]; then
        rm -rf "$ftp_dir"
        ftp_dir=
    fi
    unset RODERUV_FTP_SERVER RODERUV_FTP_USER RODERUV_FTP_PASSWORD RODERUV_FTP_FOLDER
}

# configure DIR OPTION... : every option a test build depends on is stated
# here, so a cache left in DIR by another command (the demo's, say) cannot
# switch the tests off.
configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

# run_ctest NAME DIR CTEST-ARGS... : one CTest run; it fails when it finds no
# tests, and its count goes into the closing summary.
run_ctest() {
    local name=$1 dir=$2
    shift 2
    runs+=("$name")
    ctest --test-dir "$dir" --no-tests=error --output-on-failure -j"$jobs" "$@" \
        | tee "$logs/$name.log"
}

# How many of a run passed: "N passed, M failed" from CTest's last lines,
# and how many of those were skipped (what the system cannot do, such as file
# modes on Windows).
count_of() {
    awk '/tests passed, [0-9]+ tests failed out of/ { f = $(NF-5); t = $NF }
         / \(Skipped\)$/ { s++ }
         END { printf "%d passed (%d of them skipped), %d failed", t - f, s, f }' "$logs/$1.log"
}

build=${BUILD_DIR:-build}
echo "== Configuring and building in $build/"
# Optimised as the program is, without debug information: it is a fifth of
# the build's time, and a failing test says what failed without it.
configure "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2 \
          -DRODERUV_WITH_TESTS=ON -DRODERUV_WITH_GUI=ON -DRODERUV_WITH_BENCH=ON \
          -DRODERUV_SANITIZE=OFF -DRODERUV_TSAN=OFF -DRODERUV_WITH_FUZZERS=OFF
cmake --build "$build" -j"$jobs"

echo "== Running the tests"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
run_ctest main "$build" --timeout 300

# The libraries, the windows and the program built for Windows x64 with
# mingw-w64 and their tests run under Wine through CTest (test discovery too).
# One Wine server stays up for the stage, so each test program starts fast.
# The Windows archive is compared byte for byte with the Linux build's; the
# Windows client uploads to pyftpdlib on 127.0.0.1; whole runs encrypt with a
# real GnuPG for Windows, built here once from Debian's source and reused
# while Debian's version stays. The windows are real
# Win32 windows: Wine needs a display for them (Xvfb, for the whole stage),
# and with no window manager there its windows are made unmanaged, or Wine
# would wait for one at every window it shows.
win=${WIN_BUILD_DIR:-build-win}
echo "== Building for Windows in $win/ and running the tests under Wine"
win_start=$(date +%s)
# Optimised without debug information, as the main build: debug information
# makes mingw-w64's compiling and linking about twice as slow, and nothing
# here reads it. -O2, as -O3 also makes GCC 12 warn wrongly (-Wrestrict) on
# assigning short literals to strings.
configure "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
          -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2 \
          -DRODERUV_WITH_TESTS=ON -DRODERUV_WITH_GUI=ON \
          -DRODERUV_WITH_BENCH=OFF -DRODERUV_WITH_FUZZERS=OFF -DRODERUV_SANITIZE=OFF \
          -DRODERUV_TSAN=OFF -DRODERUV_LINUX_ZIPFILES="$PWD/$build/tests/zip/zipfiles" \
          -DRODERUV_LINUX_FTPSERVER="$PWD/$build/tests/support/real_ftp_server" \
          -DRODERUV_WINDOWS_GNUPG="$PWD/$win/gnupg"
cmake --build "$win" -j"$jobs"
bash scripts/windows/build-gnupg.sh "$win/gnupg"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$logs/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$logs/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$logs/display")"
export WINEPREFIX="$PWD/$win/wineprefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
# Before any Wine program, which would start a short-lived server of its own;
# a server already up for this prefix (status 2) serves as well.
wineserver -p || [ $? -eq 2 ]
# Makes the prefix on the first run (about 10 s). Without Mono and Gecko:
# with a display their installers would wait for an answer. Not "wineboot
# -i": it starts a second service manager, and the two then refuse Task
# Scheduler calls by turns.
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# One Windows program (a cmd reading a pipe that stays open) runs for the
# whole stage. When the last Windows program ends, Wine ends its desktop, and
# each window test would then wait 10 to 20 s for a new one, whose COM service
# does not come up in time.
mkfifo "$logs/keep-wine"
wine cmd <"$logs/keep-wine" >/dev/null 2>&1 &
exec 5>"$logs/keep-wine"
start_ftp_server
# Wine itself now and then loses a test program (it hangs after its last
# line, or ends at once without output: seen a few times in thousands of
# runs); such a test gets one more try. A test that fails twice fails.
run_ctest windows "$win" --timeout 120 --repeat until-pass:2
stop_ftp_server
exec 5>&-
wineserver -k
kill "$xvfb_pid"
xvfb_pid=
unset WINEPREFIX DISPLAY
echo "== Windows stage: $(($(date +%s) - win_start)) s"

# The libraries without the user interface again, under AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails its test.
asan=${ASAN_BUILD_DIR:-build-asan}
echo "== Building and running the non-GUI tests under ASan+UBSan in $asan/"
configure "$asan" -DCMAKE_BUILD_TYPE=Debug -DRODERUV_SANITIZE=ON -DRODERUV_TSAN=OFF \
          -DRODERUV_WITH_TESTS=ON -DRODERUV_WITH_GUI=OFF -DRODERUV_WITH_BENCH=OFF \
          -DRODERUV_WITH_FUZZERS=OFF
cmake --build "$asan" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest asan "$asan" --timeout 600

# The archive writer's worker threads under ThreadSanitizer: the zip tests
# only, as they are the ones that start threads of the system's own.
tsan=${TSAN_BUILD_DIR:-build-tsan}
echo "== Building and running the zip tests under ThreadSanitizer in $tsan/"
configure "$tsan" -DCMAKE_BUILD_TYPE=Debug -DRODERUV_TSAN=ON -DRODERUV_SANITIZE=OFF \
          -DRODERUV_WITH_TESTS=ON -DRODERUV_WITH_GUI=OFF -DRODERUV_WITH_BENCH=OFF \
          -DRODERUV_WITH_FUZZERS=OFF
cmake --build "$tsan" -j"$jobs" --target zip_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest tsan "$tsan" --timeout 600 -R Zip

# Every fuzz target over its seed corpus for a few seconds, as a regression test.
fuzz=${FUZZ_DIR:-build-fuzz}
echo "== Fuzz targets in $fuzz/, a few seconds each"
build_fuzzers "$fuzz" "${FUZZ_SECONDS:-5}"
run_ctest fuzz "$fuzz" -L fuzz

# A failing test or fuzz finding has already stopped the script with a
# non-zero status; this lists what ran.
echo "== Summary"
total=0
for name in "${runs[@]}"; do
    echo "  $name: $(count_of "$name")"
    total=$((total + $(awk '/tests passed, [0-9]+ tests failed out of/ { t = $NF } END { print t + 0 }' "$logs/$name.log")))
done
echo "Summary: $total passed, 0 failed"
