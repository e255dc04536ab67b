#!/usr/bin/env bash
# build-gnupg.sh [OUT] : builds GnuPG for Windows x64 (one static gpg.exe)
# from Debian's gnupg2 source package with Debian's mingw-w64 builds of
# GnuPG's libraries, as OUT/bin/gpg.exe (default build-win/gnupg). The
# Windows tests run it under Wine as the GnuPG a clinic installs.
#
# OUT/VERSION holds the source version it was built from; while Debian offers
# the same version, the build is reused and nothing is fetched. apt-get
# source needs a deb-src entry: when none gives gnupg2, the deb-src twins of
# the machine's own Debian 12 entries are added in
# /etc/apt/sources.list.d/roderuv-deb-src.list (as root; otherwise the script
# names what is missing and stops).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh

out=${1:-build-win/gnupg}
mingw=/usr/x86_64-w64-mingw32
deb_src_list=/etc/apt/sources.list.d/roderuv-deb-src.list
GNUPG_PACKAGES=(dpkg-dev make gcc-mingw-w64-x86-64-posix libgpg-error-mingw-w64-dev
                libgcrypt-mingw-w64-dev libassuan-mingw-w64-dev libksba-mingw-w64-dev
                libnpth-mingw-w64-dev libz-mingw-w64-dev)

# The version apt-get source would fetch, or nothing without a deb-src entry.
source_version() {
    apt-get source --print-uris gnupg2 2>/dev/null |
        awk '$2 ~ /^gnupg2_.*\.dsc$/ { v = substr($2, 8); print substr(v, 1, length(v) - 4); exit }' ||
        true
}

# deb-src twins of this machine's own Debian 12 entries, one a line: the same
# mirrors and the same keys (apt refuses a source whose deb and deb-src
# entries name different keys).
deb_src_entries() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && [ "$f" != "$deb_src_list" ] || continue
        sed -n 's/^[[:space:]]*deb\([[:space:]].*[[:space:]]bookworm\)/deb-src\1/p' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'BEGIN { RS = ""; FS = "\n" }
        {
            types = uris = suites = comps = key = ""; enabled = 1
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^#/ || index($i, ":") == 0) continue
                name = substr($i, 1, index($i, ":") - 1)
                value = substr($i, index($i, ":") + 1)
                gsub(/^[ \t]+|[ \t]+$/, "", value)
                if (name == "Types") types = value
                else if (name == "URIs") uris = value
                else if (name == "Suites") suites = value
                else if (name == "Components") comps = value
                else if (name == "Signed-By") key = value
                else if (name == "Enabled" && value == "no") enabled = 0
            }
            if (!enabled || (" " types " ") !~ / deb /) next
            n = split(uris, u, /[ \t]+/); m = split(suites, s, /[ \t]+/)
            for (a = 1; a <= n; a++)
                for (b = 1; b <= m; b++)
                    if (s[b] ~ /^bookworm/)
                        print "deb-src" (key == "" ? "" : " [signed-by=" key "]") " " u[a] " " s[b] " " comps
        }' "$f"
    done
}

mkdir -p "$out"
exec 9>"$out/.lock" # one build at a time per folder
flock 9

version=$(source_version)
if [ -x "$out/bin/gpg.exe" ] && [ -s "$out/VERSION" ]; then
    built=$(cat "$out/VERSION")
    if [ -z "$version" ] || [ "$version" = "$built" ]; then
        echo "GnuPG for Windows $built: reusing $out/bin/gpg.exe"
        exit 0
    fi
    echo "GnuPG for Windows: $built in $out, Debian now has $version; building again"
fi

if [ -z "$version" ]; then
    entries=$(deb_src_entries)
    [ -n "$entries" ] || entries="deb-src http://deb.debian.org/debian bookworm main"
    if [ "$(id -u)" -ne 0 ]; then
        echo "No deb-src entry offers gnupg2, so its source cannot be fetched. As root, put" >&2
        echo "$entries" >&2
        echo "into $deb_src_list, run apt-get update, then this script again." >&2
        exit 1
    fi
    echo "Adding a deb-src entry for GnuPG's source in $deb_src_list:"
    echo "$entries"
    {
        echo "# Added by RODERUV's scripts/windows/build-gnupg.sh for the source of gnupg2,"
        echo "# from which the Windows tests' gpg.exe is built. Safe to remove."
        echo "$entries"
    } >"$deb_src_list"
    apt-get update -qq >/tmp/roderuv-apt.log 2>&1 || {
        tail -n 20 /tmp/roderuv-apt.log >&2
        rm -f "$deb_src_list" # an entry apt refuses would stop every apt command
        echo "apt-get update failed with the deb-src entry, which is removed again" >&2
        exit 1
    }
    version=$(source_version)
    [ -n "$version" ] || {
        echo "apt-get still offers no source of gnupg2; see $deb_src_list" >&2
        exit 1
    }
fi
ensure_packages "${GNUPG_PACKAGES[@]}"

echo "Building GnuPG $version for Windows x64 in $out (about 2 minutes)"
src=$out/src
rm -rf "$src"
mkdir -p "$src"
log=$out/build.log
(cd "$src" && apt-get source -qq "gnupg2=$version") >"$log" 2>&1 || {
    tail -n 20 "$log" >&2
    exit 1
}
tree=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name 'gnupg2-*' | head -n 1)
[ -n "$tree" ] || {
    echo "apt-get source left no gnupg2 folder; see $log" >&2
    exit 1
}

# Only what gpg.exe needs to encrypt, without debug information (it would
# slow the build down). -lws2_32 comes before the static libraries in
# GnuPG's link line, which need it too.
cc=x86_64-w64-mingw32-gcc-posix
! command -v ccache >/dev/null || cc="ccache $cc" # a fresh clone's build then compiles little
(
    cd "$tree"
    ./configure --host=x86_64-w64-mingw32 CC="$cc" --disable-dependency-tracking \
        --with-libgpg-error-prefix=$mingw --with-libgcrypt-prefix=$mingw \
        --with-libassuan-prefix=$mingw --with-ksba-prefix=$mingw --with-npth-prefix=$mingw \
        --with-zlib=$mingw --disable-gpgsm --disable-scdaemon --disable-dirmngr --disable-doc \
        --disable-gpgtar --disable-wks-tools --disable-tofu --disable-sqlite --disable-ldap \
        --disable-gnutls --disable-ntbtls --disable-libdns --disable-bzip2 --disable-card-support \
        --disable-ccid-driver --disable-photo-viewers --disable-tests --disable-nls \
        CFLAGS=-O2 LDFLAGS=-static LIBS=-lws2_32
    jobs=$(nproc)
    make -j"$jobs" -C common libcommon.a libgpgrl.a
    make -j"$jobs" -C kbx libkeybox.a
    make -j"$jobs" -C regexp libregexp.a
    make -j"$jobs" -C g10 gpg.exe
) >>"$log" 2>&1 || {
    tail -n 30 "$log" >&2
    echo "GnuPG's build failed; the whole output is in $log" >&2
    exit 1
}
mkdir -p "$out/bin"
x86_64-w64-mingw32-strip -o "$out/bin/gpg.exe" "$tree/g10/gpg.exe"
echo "$version" >"$out/VERSION"
rm -rf "$src"
echo "GnuPG for Windows $version: $out/bin/gpg.exe"
