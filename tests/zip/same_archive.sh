#!/bin/sh
# same_archive.sh LINUX_ZIPFILES WINDOWS_ZIPFILES WINE_RUN
# Both builds' writers archive the same files on disk (Wine sees them through
# its Z: drive); the two archives must be identical to the byte, except for
# the creation time in each local header's timestamp field: Linux reports the
# status-change time there (which cannot be set), Wine the last-write time.
set -eu
linux=$1 windows=$2 wine_run=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
src=$dir/src
mkdir "$src"
i=0
while [ $i -lt 4000 ]; do
    echo "2024-03-$((i % 28 + 1));$((100000 + i * 7));C$((i % 97));$((i * 31 % 1000)).5"
    i=$((i + 1))
done >"$src/pacienti.csv"
head -c 300000 /dev/urandom >"$src/random.bin"
head -c 70000 /dev/urandom >"$src/vnitřní.ZIP"
: >"$src/prázdný.txt"
printf 'Žluťoučký kůň\r\n' >"$src/Žluťoučký kůň.txt"
# Fixed last-write times; the last access lies ahead, so that reading the
# files does not move it (relatime) between the two runs.
touch -m -d '2021-06-15 12:34:56 UTC' "$src"/*
touch -a -d '2031-01-02 03:04:05 UTC' "$src"/*

"$linux" "$dir/linux.zip" "$src"
"$wine_run" "$windows" "$(winepath -w "$dir/windows.zip")" "$(winepath -w "$src")"
/usr/bin/python3 - "$dir/linux.zip" "$dir/windows.zip" <<'PY'
import struct, sys

def without_creation_times(path):
    data = bytearray(open(path, "rb").read())
    at, entries = 0, 0
    while data[at:at + 4] == b"PK\x03\x04":
        (size,) = struct.unpack_from("<I", data, at + 18)
        name_length, extra_length = struct.unpack_from("<HH", data, at + 26)
        extra = at + 30 + name_length
        assert data[extra:extra + 5] == b"UT\x0d\x00\x07", "timestamp field"
        data[extra + 13:extra + 17] = b"\0\0\0\0"
        at = extra + extra_length + size
        entries += 1
    return bytes(data), entries

linux, entries = without_creation_times(sys.argv[1])
windows, _ = without_creation_times(sys.argv[2])
if linux != windows:
    first = next(i for i in range(min(len(linux), len(windows))) if linux[i] != windows[i])
    sys.exit("the archives differ first at byte %d (sizes %d and %d)"
             % (first, len(linux), len(windows)))
if entries != 5:
    sys.exit("%d entries instead of 5" % entries)
print("identical: %d bytes, %d entries" % (len(linux), entries))
PY
