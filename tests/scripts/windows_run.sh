#!/usr/bin/env bash
# windows_run.sh WINE_RUN RODERUV_EXE GPG_EXE FAKE_GPG KEY
# Whole unattended runs of roderuv.exe under Wine, as an administrator's
# scheduled task makes them: the program and the gpg.exe launcher in a folder
# whose name holds blanks and Czech letters, a Windows-1250 Settings.ini with
# CR LF line ends, data files with Czech names, pyftpdlib on 127.0.0.1 as the
# registry's server. GnuPG for Windows is stood in for by FAKE_GPG, found by
# the launcher on PATH: it records its arguments and "encrypts" by copying,
# so what arrives on the server is the archive itself. One row per way of
# handling the data files after the upload (FilesMoveTo 0, 1, 2).
set -euo pipefail
export LC_ALL=C.UTF-8
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$@"
fi
wine_run=$1 roderuv=$2 launcher=$3 fake_gpg=$4 key=$5
fail() {
    echo "FAILED ($row): $*" >&2
    exit 1
}
tmp=$(mktemp -d)
ftpd=
trap '[ -z "$ftpd" ] || kill "$ftpd" 2>/dev/null || true; rm -rf "$tmp"' EXIT
winpath() { "$wine_run" winepath -w "$1" 2>/dev/null; }
cp1250() { iconv -f UTF-8 -t CP1250; }

# The server reads commands as Windows-1250, the program's code page on the
# wire, so the Czech password arrives as typed.
mkdir -p "$tmp/ftp" "$tmp/GnuPG"
# There before the server starts, which may be after the first look at it.
: >"$tmp/ftpd.log"
/usr/bin/python3 "$(dirname "$0")/../../scripts/ftpd_cp1250.py" 0 "$tmp/ftp" klinika "tajné heslo" \
    >"$tmp/ftpd.log" 2>&1 &
ftpd=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^port //p' "$tmp/ftpd.log")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { row=start fail "pyftpdlib: $(cat "$tmp/ftpd.log")"; }
cp "$fake_gpg" "$tmp/GnuPG/gpg.exe"
export WINEPATH="$(winpath "$tmp/GnuPG")" FAKE_GPG_RECORD="$tmp/gpg-record.txt" FAKE_GPG_ENCRYPT=1
password=$(printf 'tajné heslo' | cp1250 | base64 -w0)

# FilesMoveTo | the journal's line about the data files
rows=(
    "0|"
    "1|Datové soubory smazány. "
    "2|Datové soubory byly přesunuty. "
)
for entry in "${rows[@]}"; do
    row=FilesMoveTo=${entry%%|*} journalled=${entry#*|}
    app="$tmp/Odesílání dat $row/program" data="$tmp/Data pacientů" moved="$tmp/Odeslaná data"
    rm -rf "$tmp/ftp"/* "$data" "$moved" "$FAKE_GPG_RECORD"
    mkdir -p "$app" "$data" "$moved"
    cp "$roderuv" "$app/roderuv.exe"
    cp "$launcher" "$app/gpg.exe"
    printf 'Pacient;Diagnóza\r\nNovák Jiří;Č 12\r\n' | cp1250 >"$data/pacienti_září.csv"
    head -c 300000 /dev/urandom >"$data/výsledky 2026.bin"
    seq 1 20000 >"$data/léčba.csv"
    cp -a "$data" "$tmp/originals"
    {
        printf '[General]\r\nFTPServer=127.0.0.1:%s\r\nLogin=klinika\r\nHeslo=%s\r\n' "$port" "$password"
        printf 'Proxy=0\r\nUseLog=1\r\nCestaLog=%s\r\nDeleteLog=0\r\n' "$(winpath "$app/Deník odesílání.log")"
        printf 'FilesMoveTo=%s\r\nFilesMoveToDir=%s\\\r\n' "${row#*=}" "$(winpath "$moved")"
        printf 'PocetSouboru=3\r\n[Files]\r\n'
        printf 'File0=%s\r\n' "$(winpath "$data/pacienti_září.csv")"
        printf 'File1=%s\r\n' "$(winpath "$data/výsledky 2026.bin")"
        printf 'File2=%s\r\n' "$(winpath "$data/léčba.csv")"
    } | cp1250 >"$app/Settings.ini"

    status=0
    (cd "$app" && timeout 120 "$wine_run" ./roderuv.exe /auto) || status=$?
    journal="$app/Deník odesílání.log"
    [ -f "$journal" ] || fail "no journal (status $status)"
    text=$(iconv -f CP1250 -t UTF-8 "$journal") || fail "journal is not Windows-1250"
    [ "$status" = 0 ] || fail "status $status; journal: $text"
    [ "$(grep -c $'\r$' "$journal")" = "$(wc -l <"$journal")" ] || fail "journal lines without CR LF"
    grep -qF "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. " <<<"$text" ||
        fail "no success in the journal: $text"
    [ -z "$journalled" ] || grep -qF "$journalled" <<<"$text" || fail "journal lacks '$journalled'"

    # What gpg was given: batch mode, the registry's key, the archive.
    grep -qx 'stdin=null' "$FAKE_GPG_RECORD" && grep -qx 'arg=--batch' "$FAKE_GPG_RECORD" &&
        grep -A1 -x 'arg=-r' "$FAKE_GPG_RECORD" | grep -qx "arg=$key" &&
        grep -A1 -x 'arg=-e' "$FAKE_GPG_RECORD" | grep -q '^arg=.*\.zip$' ||
        fail "gpg was given: $(cat "$FAKE_GPG_RECORD")"

    # The archive arrived whole: every checker accepts it, every data file in
    # it is byte-identical, named in Windows-1250 as on Linux.
    sent=("$tmp"/ftp/*.zip.gpg)
    [ ${#sent[@]} = 1 ] && [ -f "${sent[0]}" ] || fail "on the server: $(ls "$tmp/ftp")"
    unzip -tq "${sent[0]}" >/dev/null || fail "unzip -t"
    day=$(basename "${sent[0]}" .zip.gpg) # moved files go into a folder of the run's date
    /usr/bin/python3 - "${sent[0]}" "$tmp/originals" <<'PY' || fail "archive content"
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    names = {}
    for info in z.infolist():
        assert not info.flag_bits & 0x800, info.filename
        names[info.filename.encode("cp437").decode("cp1250")] = z.read(info)
want = {n: open(os.path.join(sys.argv[2], n), "rb").read() for n in os.listdir(sys.argv[2])}
assert names == want, sorted(names)
PY

    # The data files: left, deleted, or moved intact.
    for f in "$tmp/originals"/*; do
        name=$(basename "$f")
        case $row in
        FilesMoveTo=0) cmp -s "$f" "$data/$name" || fail "$name not left in place" ;;
        FilesMoveTo=1) [ ! -e "$data/$name" ] || fail "$name not deleted" ;;
        FilesMoveTo=2) cmp -s "$f" "$moved/$day/$name" && [ ! -e "$data/$name" ] || fail "$name not moved" ;;
        esac
    done
    rm -rf "$tmp/originals"
    echo "ok: $row"
done
echo "windows runs: ${#rows[@]} unattended runs against pyftpdlib passed"
