#!/usr/bin/env bash
# windows_run.sh WINE_RUN RODERUV_EXE GPG_EXE FAKE_GPG KEY HOLD_OPEN
# Whole unattended runs of roderuv.exe under Wine, as an administrator's
# scheduled task makes them: the program and the gpg.exe launcher in a folder
# whose name holds blanks and Czech letters, a Windows-1250 Settings.ini with
# CR LF line ends, data files with Czech names, pyftpdlib on 127.0.0.1 as the
# registry's server. GnuPG for Windows is stood in for by FAKE_GPG, found by
# the launcher on PATH: it records its arguments and "encrypts" by copying,
# so what arrives on the server is the archive itself; it also writes what
# GnuPG writes under Wine on standard error, which is no failure. One row per
# way of handling the data files after the upload (FilesMoveTo 0, 1, 2), one
# with a fourth data file that another program (HOLD_OPEN) holds open for
# writing without read sharing (it is neither sent nor deleted, the others
# are), then the GnuPG check fails: gpg hangs (with a child), the launcher
# finds none.
set -euo pipefail
export LC_ALL=C.UTF-8
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$@"
fi
wine_run=$1 roderuv=$2 launcher=$3 fake_gpg=$4 key=$5 hold_open=$6
fail() {
    echo "FAILED ($row): $*" >&2
    exit 1
}
tmp=$(mktemp -d)
ftpd= holder=
trap 'exec 6>&-; [ -z "$holder" ] || wait "$holder" 2>/dev/null || true
      [ -z "$ftpd" ] || kill "$ftpd" 2>/dev/null || true; rm -rf "$tmp"' EXIT
winpath() { "$wine_run" winepath -w "$1" 2>/dev/null; }
cp1250() { iconv -f UTF-8 -t CP1250; }

# The server reads commands as Windows-1250, the program's code page on the
# wire, so the Czech password arrives as typed.
mkdir -p "$tmp/ftp" "$tmp/GnuPG"
/usr/bin/python3 "$(dirname "$0")/../../scripts/ftpd_cp1250.py" 0 "$tmp/ftp" klinika "tajné heslo" \
    >"$tmp/ftpd.log" 2>&1 &
ftpd=$!
port=
for _ in $(seq 100); do
    # The server may not have made its log yet.
    port=$(sed -n 's/^port //p' "$tmp/ftpd.log" 2>/dev/null) || true
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { row=start fail "pyftpdlib: $(cat "$tmp/ftpd.log")"; }
cp "$fake_gpg" "$tmp/GnuPG/gpg.exe"
export WINEPATH="$(winpath "$tmp/GnuPG")" FAKE_GPG_RECORD="$tmp/gpg-record.txt" FAKE_GPG_ENCRYPT=1
export FAKE_GPG_STDERR="SetConsoleCP failed: Invalid access"
password=$(printf 'tajné heslo' | cp1250 | base64 -w0)

# FilesMoveTo | the journal's line about the data files | a file held open
rows=(
    "0||"
    "1|Datové soubory smazány. |"
    "2|Datové soubory byly přesunuty. |"
    "1|Datové soubory se nepodařilo smazány. |held"
)
# make_app ROW MOVETO [SETTING] [held]: the installed layout, data files and
# settings; with held, a fourth data file that HOLD_OPEN holds open.
make_app() {
    app="$tmp/Odesílání dat $1/program" data="$tmp/Data pacientů" moved="$tmp/Odeslaná data"
    rm -rf "$tmp/ftp"/* "$data" "$moved" "$FAKE_GPG_RECORD"
    mkdir -p "$app" "$data" "$moved"
    cp "$roderuv" "$app/roderuv.exe"
    cp "$launcher" "$app/gpg.exe"
    printf 'Pacient;Diagnóza\r\nNovák Jiří;Č 12\r\n' | cp1250 >"$data/pacienti_září.csv"
    head -c 300000 /dev/urandom >"$data/výsledky 2026.bin"
    seq 1 20000 >"$data/léčba.csv"
    cp -a "$data" "$tmp/originals"
    local held=${4:-} files=3
    if [ -n "$held" ]; then
        head -c 300000 /dev/urandom >"$data/držený.bin"
        cp "$data/držený.bin" "$tmp/held-original"
        files=4
    fi
    {
        printf '[General]\r\nFTPServer=127.0.0.1:%s\r\nLogin=klinika\r\nHeslo=%s\r\n' "$port" "$password"
        printf 'Proxy=0\r\nUseLog=1\r\nCestaLog=%s\r\nDeleteLog=0\r\n' "$(winpath "$app/Deník odesílání.log")"
        printf 'FilesMoveTo=%s\r\nFilesMoveToDir=%s\\\r\n' "$2" "$(winpath "$moved")"
        [ -z "${3:-}" ] || printf '%s\r\n' "$3"
        printf 'PocetSouboru=%s\r\n[Files]\r\n' "$files"
        printf 'File0=%s\r\n' "$(winpath "$data/pacienti_září.csv")"
        printf 'File1=%s\r\n' "$(winpath "$data/výsledky 2026.bin")"
        printf 'File2=%s\r\n' "$(winpath "$data/léčba.csv")"
        [ -z "$held" ] || printf 'File3=%s\r\n' "$(winpath "$data/držený.bin")"
    } | cp1250 >"$app/Settings.ini"
    if [ -n "$held" ]; then
        mkfifo "$tmp/release"
        "$wine_run" "$hold_open" "$(winpath "$data/držený.bin")" <"$tmp/release" >"$tmp/held" &
        holder=$!
        exec 6>"$tmp/release"
        for _ in $(seq 100); do
            grep -q held "$tmp/held" 2>/dev/null && break
            sleep 0.1
        done
        grep -q held "$tmp/held" || fail "the file is not held open"
    fi
}

# run_app [NAME=VALUE...]: one unattended run with those in its environment;
# its journal in $text. The day's archive (as the journal names it) is gone.
run_app() {
    status=0
    (cd "$app" && env "$@" timeout 120 "$wine_run" ./roderuv.exe /auto) || status=$?
    journal="$app/Deník odesílání.log"
    [ -f "$journal" ] || fail "no journal (status $status)"
    text=$(iconv -f CP1250 -t UTF-8 "$journal") || fail "journal is not Windows-1250"
    [ "$status" = "${want_status:-0}" ] || fail "status $status; journal: $text"
    [ "$(grep -c $'\r$' "$journal")" = "$(wc -l <"$journal")" ] || fail "journal lines without CR LF"
    archive=$(sed -n 's/.*Výsledný soubor \(.*\)\.gpg neexistuje.*/\1/p; s/.*Šifrovaný soubor \(.*\)\.gpg o velikosti.*/\1/p' <<<"$text" | tr -d '\r')
    [ -z "$archive" ] || [ ! -e "$("$wine_run" winepath -u "$archive" 2>/dev/null)" ] ||
        fail "the archive stayed in the clear: $archive"
}


for entry in "${rows[@]}"; do
    IFS='|' read -r mode journalled held <<<"$entry"
    row="FilesMoveTo=$mode${held:+ $held}"
    make_app "$row" "$mode" "" "$held"
    run_app
    grep -qF "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. " <<<"$text" ||
        fail "no success in the journal: $text"
    [ -z "$journalled" ] || grep -qF "$journalled" <<<"$text" || fail "journal lacks '$journalled'"
    if [ -n "$held" ]; then
        exec 6>&-
        wait "$holder" || fail "the holding program failed"
        holder=
        rm "$tmp/release"
        # Not taken for empty, left out with its reason, not counted.
        grep -qF "Soubor $(winpath "$data/držený.bin") nelze číst (je otevřen jiným programem" \
            <<<"$text" || fail "the held file is not journalled as unreadable: $text"
        ! grep -qF "nulovou velikost" <<<"$text" || fail "the held file is taken for empty: $text"
        grep -qF "Zazipováno celkem 3; " <<<"$text" || fail "the count is not the archive's: $text"
        cmp -s "$tmp/held-original" "$data/držený.bin" || fail "the held file did not stay"
        rm "$tmp/held-original"
    fi
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
        case $mode in
        0) cmp -s "$f" "$data/$name" || fail "$name not left in place" ;;
        1) [ ! -e "$data/$name" ] || fail "$name not deleted" ;;
        2) cmp -s "$f" "$moved/$day/$name" && [ ! -e "$data/$name" ] || fail "$name not moved" ;;
        esac
    done
    rm -rf "$tmp/originals"
    echo "ok: $row"
done

# Name | environment for the stand-in | the journal's reason. gpg that hangs
# is ended at the time-out with the child it started.
failures=(
    "GpgHangs|FAKE_GPG_SLEEP=60000 FAKE_GPG_CHILD=1|Program gpg.exe neskončil do 1 s a byl ukončen."
    "NoGnuPG|WINEPATH=|Hlášení GNU PG: gpg.exe (RODERUV): GnuPG for Windows was not found"
)
for entry in "${failures[@]}"; do
    IFS='|' read -r row environment reason <<<"$entry"
    make_app "$row" 1 "TimeOut=1"
    run_app $environment
    grep -qF "$reason" <<<"$text" && grep -qF 'Program "gpg.exe" nebyl nalezen v adresáři aplikace.' <<<"$text" ||
        fail "journal: $text"
    [ -z "$(ls "$tmp/ftp")" ] && diff -r "$tmp/originals" "$data" >/dev/null || fail "data sent or touched"
    sleep 0.5
    ! pgrep -f "$(basename "$tmp").GnuPG.gpg\.exe" >/dev/null || fail "gpg or its child lives on"
    rm -rf "$tmp/originals"
    echo "ok: $row"
done
# The exit status with ExitCode: Name | FilesMoveTo | ExitCode | change to
# the layout | environment | status. Port 1 refuses the connection; a file
# stands where the folder of moved files should be.
statuses=(
    "StatusSent|1|1|-|-|0"
    "StatusSettings|1|1|no_login|-|1"
    "StatusGnuPG|1|1|-|WINEPATH=|2"
    "StatusNoUsableFile|1|1|no_data|-|4"
    "StatusConnection|1|1|refusing_port|-|7"
    "StatusNotMoved|2|1|no_folder_to_move_to|-|11"
    "StatusZeroKeepsZero|1|0|-|WINEPATH=|0"
)
no_login() { sed -i '/^Login=/d' "$app/Settings.ini"; }
no_data() { rm "$data"/*; }
refusing_port() { sed -i 's/^FTPServer=.*/FTPServer=127.0.0.1:1\r/' "$app/Settings.ini"; }
no_folder_to_move_to() { rmdir "$moved" && echo x >"$moved"; }
for entry in "${statuses[@]}"; do
    IFS='|' read -r row mode code change environment want_status <<<"$entry"
    make_app "$row" "$mode" "ExitCode=$code"
    [ "$change" = - ] || $change
    [ "$environment" != - ] || environment=
    run_app $environment
    rm -rf "$tmp/originals" "$moved"
    echo "ok: $row (status $want_status)"
done
want_status=
echo "windows runs: $((${#rows[@]} + ${#failures[@]} + ${#statuses[@]})) unattended runs against pyftpdlib passed"
