#!/usr/bin/env bash
# windows_gnupg_run.sh ROW WINE_RUN RODERUV_EXE GPG_EXE KEY GNUPG
# One whole unattended run of roderuv.exe under Wine as on a clinic's PC: the
# program and the gpg.exe launcher under C:\Program Files, GnuPG for Windows
# (GNUPG\bin\gpg.exe) registered as its installer registers it, gnupg\ with
# the registry's key (Linux's throwaway key) imported by it, pyftpdlib on
# 127.0.0.1. Linux's gpg decrypts what arrives. ROW: see the table below.
set -euo pipefail
export LC_ALL=C.UTF-8
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$@"
row=$1 wine_run=$2 roderuv=$3 launcher=$4 key=$5 gnupg=$6
fail() { echo "FAILED ($row): $*" >&2 && exit 1; }
source "$(dirname "$0")/skip.sh"
[ -f "$gnupg/bin/gpg.exe" ] || skip "no $gnupg/bin/gpg.exe (build-gnupg.sh)"
gnupg=$(cd "$gnupg" && pwd)
zpath() { printf "Z:%s" "${1//\//\\}"; } # a Linux path as Wine shows it, without a Wine start
cp1250() { iconv -f UTF-8 -t CP1250; }
# GnuPG's entry exists only during a row: the launcher's tests and the
# stand-in's runs, which hold the same lock, expect none.
unregister() {
    local entry
    for entry in 'HKLM\SOFTWARE\GnuPG' 'HKLM\SOFTWARE\WOW6432Node\GnuPG'; do
        "$wine_run" reg delete "$entry" /f &>/dev/null || true
    done
}

# The application folder, TEMP, the key in gnupg\, GnuPG registered, and for
# a run that fails, the journal's lines.
folder='C:\Program Files\RODERUV' temp='' withKey=1 register=1 lines=()
tmp=$(mktemp -d)
case $row in
czech-folder) folder='C:\Program Files\Odesílání dat Říčany' ;;
czech-temp) temp="$tmp/Dočasné soubory č. 2" ;;
no-key) withKey='' lines=("Šifrovaní se nezdařilo. " "No public key") ;;
no-gnupg) register='' lines=('Program "gpg.exe" nebyl nalezen v adresáři aplikace.'
                             "GnuPG for Windows was not found") ;;
*) fail "no such row" ;;
esac
app=$("$wine_run" winepath -u "$folder" 2>/dev/null) data="$tmp/Data pacientů" ftpd=
[ -n "$app" ] || fail "winepath -u $folder"
export GNUPGHOME="$tmp/linux-gnupg"
trap 'kill $ftpd || true; unregister; gpgconf --kill all 2>/dev/null || true; rm -rf "$tmp" "$app"' EXIT
mkdir -p "$tmp/ftp"
exec 3< <(exec /usr/bin/python3 "$(dirname "$0")/../../scripts/ftpd_cp1250.py" 0 "$tmp/ftp" \
    klinika "tajné heslo" 2>/dev/null)
ftpd=$!
read -r -t 20 _ port <&3 || fail "pyftpdlib did not start"

# The installed layout, the data files (a copy in originals), Settings.ini.
rm -rf "$app" # left by a run that was killed
mkdir -p "$app/gnupg" "$data" "$GNUPGHOME"
chmod 700 "$GNUPGHOME"
cp "$roderuv" "$app/roderuv.exe"
cp "$launcher" "$app/gpg.exe"
printf 'Pacient;Diagnóza\r\nNovák Jiří;Č 12\r\n' | cp1250 >"$data/pacienti_září.csv"
head -c 300000 /dev/urandom >"$data/výsledky 2026.bin"
cp -a "$data" "$tmp/originals"
{
    printf '[General]\r\nFTPServer=127.0.0.1:%s\r\nLogin=klinika\r\nHeslo=%s\r\nProxy=0\r\n' "$port" \
        "$(printf 'tajné heslo' | cp1250 | base64 -w0)"
    printf 'UseLog=1\r\nCestaLog=%s\r\nFilesMoveTo=1\r\nPocetSouboru=2\r\n[Files]\r\n' \
        "$folder\Deník.log"
    printf 'File0=%s\r\nFile1=%s\r\n' "$(zpath "$data/pacienti_září.csv")" \
        "$(zpath "$data/výsledky 2026.bin")"
} | cp1250 >"$app/Settings.ini"
gpg -q --batch --passphrase '' --quick-gen-key Registr future-default default never 2>/dev/null
if [ -n "$withKey" ]; then
    gpg -q --armor --export >"$tmp/registr.asc"
    "$wine_run" "$gnupg/bin/gpg.exe" --homedir "$folder\gnupg" --batch --no-autostart \
        --import "$(zpath "$tmp/registr.asc")" >"$tmp/import.log" 2>&1 ||
        fail "GnuPG for Windows: $(cat "$tmp/import.log")"
    printf 'group %s = %s\r\n' "$key" \
        "$(gpg --with-colons --list-keys 2>/dev/null | awk -F: '/^fpr/ { print $10; exit }')" \
        >"$app/gnupg/gpg.conf"
fi
unset WINEPATH # no GnuPG on PATH
unregister
[ -z "$register" ] || "$wine_run" reg add 'HKLM\SOFTWARE\GnuPG' /v 'Install Directory' \
    /d "$(zpath "$gnupg")" /f >/dev/null 2>&1 || fail "reg add"

# The run, with TEMP and TMP set through cmd: Wine takes neither from Linux.
[ -z "$temp" ] || mkdir -p "$temp"
set_temp=${temp:+"set TEMP=$(zpath "$temp")& set TMP=$(zpath "$temp")& "}
status=0
(cd "$app" && timeout 120 "$wine_run" cmd /c "${set_temp}roderuv.exe /auto") || status=$?
text=$(iconv -f CP1250 -t UTF-8 "$app/Deník.log") && [ "$status" = 0 ] || fail "status $status: $text"
files=("$tmp"/ftp/*) # the pattern itself when nothing arrived
sent=${files[0]}
if [ ${#lines[@]} = 0 ]; then
    grep -qF "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. " <<<"$text" ||
        fail "no success in the journal: $text"
    [ ${#files[@]} = 1 ] && [[ $sent == *.zip.gpg ]] || fail "on the server: ${files[*]}"
    [ -z "$temp" ] || [ -f "$temp/${sent##*/}" ] || fail "${sent##*/} not made in $temp"
    gpg -q --batch -o "$tmp/decrypted.zip" -d "$sent" 2>"$tmp/decrypt.log" ||
        fail "Linux's gpg cannot decrypt ${sent##*/}: $(cat "$tmp/decrypt.log")"
    unzip -tq "$tmp/decrypted.zip" >/dev/null || fail "unzip -t"
    # Every data file in it byte-identical, named in Windows-1250.
    /usr/bin/python3 - "$tmp/decrypted.zip" "$tmp/originals" <<'PY' || fail "archive content"
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    got = {i.filename.encode("cp437").decode("cp1250"): z.read(i) for i in z.infolist()}
want = {n: open(os.path.join(sys.argv[2], n), "rb").read() for n in os.listdir(sys.argv[2])}
assert got == want, sorted(got)
PY
    [ -z "$(ls "$data")" ] || fail "data files not deleted: $(ls "$data")"
else # the run stops, says why and leaves the data files
    [ ! -e "$sent" ] || fail "sent: ${files[*]}"
    diff -r "$tmp/originals" "$data" >/dev/null || fail "data files touched"
    for t in "${lines[@]}"; do grep -qF "$t" <<<"$text" || fail "journal lacks '$t': $text"; done
fi
echo "ok: $row"
