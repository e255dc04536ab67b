#!/usr/bin/env bash
# windows_run.sh TABLE WINE_RUN RODERUV_EXE GPG_EXE KEY GNUPG
# Whole unattended runs of roderuv.exe under Wine, as an administrator's
# scheduled task makes them: the program and the gpg.exe launcher in a folder
# whose name holds blanks and Czech letters, a Windows-1250 Settings.ini with
# CR LF line ends, data files with Czech names, pyftpdlib on 127.0.0.1 as the
# registry's server. TABLE "fake": GNUPG is fake-gpg.exe, found on PATH,
# which "encrypts" by copying; one row per FilesMoveTo (0, 1, 2). TABLE
# "gnupg:ROW": GNUPG is the folder of a real GnuPG for Windows (bin\gpg.exe),
# registered for the row; Linux's gpg decrypts what arrives.
set -euo pipefail
export LC_ALL=C.UTF-8
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$@"
fi
table=$1 wine_run=$2 roderuv=$3 launcher=$4 key=$5 gnupg=$6
row=start
fail() {
    echo "FAILED ($row): $*" >&2
    exit 1
}
tmp=$(mktemp -d)
ftpd='' registered='' app=''
cleanup() {
    [ -z "$ftpd" ] || kill "$ftpd" 2>/dev/null || true
    [ -z "$registered" ] || unregister
    [ -z "${GNUPGHOME:-}" ] || gpgconf --kill all 2>/dev/null || true
    rm -rf "$tmp" "$app"
}
trap cleanup EXIT
winpath() { "$wine_run" winepath -w "$1" 2>/dev/null; }
unixpath() { "$wine_run" winepath -u "$1" 2>/dev/null; }
cp1250() { iconv -f UTF-8 -t CP1250; }

# The server reads commands as Windows-1250, the program's code page on the
# wire, so the Czech password arrives as typed.
mkdir -p "$tmp/ftp"
: >"$tmp/ftpd.log" # before the server's shell gets to it
/usr/bin/python3 "$(dirname "$0")/../../scripts/ftpd_cp1250.py" 0 "$tmp/ftp" klinika "tajné heslo" \
    >"$tmp/ftpd.log" 2>&1 &
ftpd=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^port //p' "$tmp/ftpd.log")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || fail "pyftpdlib: $(cat "$tmp/ftpd.log")"
password=$(printf 'tajné heslo' | cp1250 | base64 -w0)
data="$tmp/Data pacientů" moved="$tmp/Odeslaná data"

# install APP FILES_MOVE_TO : the program, the launcher, three data files
# with Czech names (a copy in $tmp/originals) and a Settings.ini listing them.
install() {
    local app=$1
    rm -rf "$tmp/ftp"/* "$data" "$moved" "$tmp/originals"
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
        printf 'FilesMoveTo=%s\r\nFilesMoveToDir=%s\\\r\n' "$2" "$(winpath "$moved")"
        printf 'PocetSouboru=3\r\n[Files]\r\n'
        printf 'File0=%s\r\n' "$(winpath "$data/pacienti_září.csv")"
        printf 'File1=%s\r\n' "$(winpath "$data/výsledky 2026.bin")"
        printf 'File2=%s\r\n' "$(winpath "$data/léčba.csv")"
    } | cp1250 >"$app/Settings.ini"
}

# run APP [TEMP] : roderuv.exe /auto started in APP, with TEMP and TMP set to
# the Windows folder TEMP (Wine takes neither from Linux); the journal in $text.
run() {
    local app=$1 status=0
    (cd "$app" && timeout 120 "$wine_run" cmd /c "${2:+set TEMP=$2& set TMP=$2& }roderuv.exe /auto") ||
        status=$?
    journal="$app/Deník odesílání.log"
    [ -f "$journal" ] || fail "no journal (status $status)"
    text=$(iconv -f CP1250 -t UTF-8 "$journal") || fail "journal is not Windows-1250"
    [ "$status" = 0 ] || fail "status $status; journal: $text"
    [ "$(grep -c $'\r$' "$journal")" = "$(wc -l <"$journal")" ] || fail "journal lines without CR LF"
}

# journalled TEXT... : every text is in the journal.
journalled() {
    local t
    for t in "$@"; do grep -qF "$t" <<<"$text" || fail "journal lacks '$t': $text"; done
}

# check_archive ZIP : every checker accepts it, every data file in it is
# byte-identical, named in Windows-1250 as on Linux.
check_archive() {
    unzip -tq "$1" >/dev/null || fail "unzip -t"
    /usr/bin/python3 - "$1" "$tmp/originals" <<'PY' || fail "archive content"
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
}

# check_data HOW [DAY] : the data files left, deleted, or moved intact into
# the folder of the run's date.
check_data() {
    local f name
    for f in "$tmp/originals"/*; do
        name=$(basename "$f")
        case $1 in
        left) cmp -s "$f" "$data/$name" || fail "$name not left in place" ;;
        deleted) [ ! -e "$data/$name" ] || fail "$name not deleted" ;;
        moved) cmp -s "$f" "$moved/$2/$name" && [ ! -e "$data/$name" ] || fail "$name not moved" ;;
        esac
    done
}

# sent : the one file on the server, in $sent.
sent() {
    local files=("$tmp"/ftp/*.zip.gpg)
    [ ${#files[@]} = 1 ] && [ -f "${files[0]}" ] && [ "$(ls "$tmp/ftp" | wc -l)" = 1 ] ||
        fail "on the server: $(ls "$tmp/ftp")"
    sent=${files[0]}
}

fake_table() {
    mkdir -p "$tmp/GnuPG"
    cp "$gnupg" "$tmp/GnuPG/gpg.exe"
    export WINEPATH="$(winpath "$tmp/GnuPG")" FAKE_GPG_RECORD="$tmp/gpg-record.txt" FAKE_GPG_ENCRYPT=1
    # FilesMoveTo | the journal's line about the data files | what becomes of them
    local rows=("0||left" "1|Datové soubory smazány. |deleted" "2|Datové soubory byly přesunuty. |moved")
    local entry
    for entry in "${rows[@]}"; do
        IFS='|' read -r moveTo line how <<<"$entry"
        row=FilesMoveTo=$moveTo app="$tmp/Odesílání dat $row/program"
        rm -f "$FAKE_GPG_RECORD"
        install "$app" "$moveTo"
        run "$app"
        journalled "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. " ${line:+"$line"}
        # What gpg was given: batch mode, the registry's key, the archive.
        grep -qx 'stdin=null' "$FAKE_GPG_RECORD" && grep -qx 'arg=--batch' "$FAKE_GPG_RECORD" &&
            grep -A1 -x 'arg=-r' "$FAKE_GPG_RECORD" | grep -qx "arg=$key" &&
            grep -A1 -x 'arg=-e' "$FAKE_GPG_RECORD" | grep -q '^arg=.*\.zip$' ||
            fail "gpg was given: $(cat "$FAKE_GPG_RECORD")"
        sent
        check_archive "$sent"
        check_data "$how" "$(basename "$sent" .zip.gpg)"
        echo "ok: $row"
    done
    echo "windows runs: ${#rows[@]} unattended runs against pyftpdlib passed"
}

# GnuPG's "Install Directory", as its installer writes it, only for the row:
# the launcher's tests and the fake table, under the same lock, expect none.
unregister() {
    local view
    for view in 'HKLM\SOFTWARE\GnuPG' 'HKLM\SOFTWARE\WOW6432Node\GnuPG'; do
        "$wine_run" reg delete "$view" /f >/dev/null 2>&1 || true
    done
}

gnupg_table() {
    row=${table#gnupg:}
    [ -f "$gnupg/bin/gpg.exe" ] || {
        echo "skipped: no $gnupg/bin/gpg.exe (scripts/windows/build-gnupg.sh builds it)"
        exit 77
    }
    # Row: the application folder, TEMP, the key in gnupg\, GnuPG registered,
    # and for a run that fails, the journal's lines.
    local folder='C:\Program Files\RODERUV' temp='' withKey=1 register=1 lines=()
    case $row in
    czech-folder) folder='C:\Program Files\Odesílání dat Říčany' ;;
    czech-temp) temp="$tmp/Dočasné soubory č. 2" ;;
    no-key) withKey='' lines=("Šifrovaní se nezdařilo. " "No public key") ;;
    no-gnupg) register='' lines=('Program "gpg.exe" nebyl nalezen v adresáři aplikace.'
                               "GnuPG for Windows was not found") ;;
    *) fail "no such row" ;;
    esac
    export GNUPGHOME="$tmp/linux-gnupg" # the registry's key: Linux's throwaway key
    mkdir -m 700 "$GNUPGHOME"
    gpg -q --batch --passphrase '' --quick-gen-key 'Registr <registr@example.invalid>' \
        future-default default never 2>/dev/null || fail "gpg --quick-gen-key"
    gpg -q --armor --export >"$tmp/registr.asc"
    app=$(unixpath "$folder")
    rm -rf "$app" # left by a run that was killed
    install "$app" 1
    mkdir "$app/gnupg"
    if [ -n "$withKey" ]; then
        "$wine_run" "$gnupg/bin/gpg.exe" --homedir "$(winpath "$app/gnupg")" --batch --no-autostart \
            --import "$(winpath "$tmp/registr.asc")" >"$tmp/import.log" 2>&1 ||
            fail "GnuPG for Windows: $(cat "$tmp/import.log")"
        printf 'group %s = %s\r\n' "$key" \
            "$(gpg --with-colons --list-keys 2>/dev/null | awk -F: '/^fpr/ { print $10; exit }')" \
            >"$app/gnupg/gpg.conf"
    fi
    unset WINEPATH # no GnuPG on PATH
    unregister
    registered=1
    if [ -n "$register" ]; then
        "$wine_run" reg add 'HKLM\SOFTWARE\GnuPG' /v 'Install Directory' /d "$(winpath "$gnupg")" \
            /f >/dev/null 2>&1 || fail "reg add"
    else
        local pf
        pf=$(unixpath 'C:\Program Files')
        for f in "$pf"{,' (x86)'}/{GnuPG/bin,Gpg4win/bin,GNU/GnuPG/pub}/gpg.exe; do
            [ ! -e "$f" ] || fail "the prefix holds $f"
        done
    fi
    [ -z "$temp" ] || mkdir -p "$temp"
    run "$app" "${temp:+$(winpath "$temp")}"
    if [ ${#lines[@]} = 0 ]; then
        journalled "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. "
        sent
        [ -z "$temp" ] || [ -f "$temp/${sent##*/}" ] || fail "${sent##*/} not made in $temp"
        gpg -q --batch -o "$tmp/decrypted.zip" -d "$sent" 2>"$tmp/decrypt.log" ||
            fail "Linux's gpg cannot decrypt ${sent##*/}: $(cat "$tmp/decrypt.log")"
        check_archive "$tmp/decrypted.zip"
        check_data deleted
    else # the run stops and says why
        [ -z "$(ls "$tmp/ftp")" ] || fail "sent: $(ls "$tmp/ftp")"
        check_data left
        journalled "${lines[@]}"
    fi
    echo "ok: $row"
}

case $table in
fake) fake_table ;;
gnupg:*) gnupg_table ;;
*) fail "no table $table" ;;
esac
