#!/usr/bin/env bash
# windows_ftps_run.sh WINE_RUN RODERUV_EXE GPG_EXE FAKE_GPG REAL_FTP_SERVER
# Whole unattended runs of roderuv.exe under Wine with FTPS=1 (SChannel)
# against real FTP servers on 127.0.0.1, each started as the Linux tests start
# it, with a throwaway self-signed certificate, by REAL_FTP_SERVER (the Linux
# build's tests/support/real_ftp_server; pure-ftpd and vsftpd need root).
# GnuPG for Windows is stood in for by FAKE_GPG (it "encrypts" by copying).
# Wine's SChannel negotiates TLS 1.2 and never resumes a session: against a
# server that demands reuse the upload must fail, and say why.
set -euo pipefail
export LC_ALL=C.UTF-8
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$@"
wine_run=$1 roderuv=$2 launcher=$3 fake_gpg=$4 real_ftp_server=${5:-}
row=start
fail() { echo "FAILED ($row): $*" >&2 && exit 1; }
source "$(dirname "$0")/skip.sh"
[ -x "$real_ftp_server" ] || skip "no $real_ftp_server (the Linux build)"
[ "$(id -u)" = 0 ] || skip "pure-ftpd and vsftpd need root"
tmp=$(mktemp -d) srv=
stop_server() {
    [ -n "$srv" ] || return 0
    exec 7>&-
    wait "$srv" || true
    srv=
    rm -f "$tmp/srv.in"
}
trap 'stop_server; rm -rf "$tmp"' EXIT
winpath() { "$wine_run" winepath -w "$1" 2>/dev/null; }
cp1250() { iconv -f UTF-8 -t CP1250; }

# start_server KIND TLS: port, user, password, root and fingerprint of it.
start_server() {
    stop_server
    mkfifo "$tmp/srv.in"
    "$real_ftp_server" "$1" "$2" <"$tmp/srv.in" >"$tmp/srv.out" 2>"$tmp/srv.err" &
    srv=$!
    exec 7>"$tmp/srv.in"
    for _ in $(seq 600); do
        grep -qx ready "$tmp/srv.out" && break
        kill -0 "$srv" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -qx ready "$tmp/srv.out"; then
        local status=0
        wait "$srv" || status=$?
        srv=
        [ "$status" != 77 ] || skip "$(cat "$tmp/srv.err")"
        fail "$1 did not start: $(cat "$tmp/srv.err")"
    fi
    for key in port user password root fingerprint; do
        printf -v "$key" '%s' "$(sed -n "s/^$key //p" "$tmp/srv.out")"
    done
}

mkdir -p "$tmp/GnuPG"
cp "$fake_gpg" "$tmp/GnuPG/gpg.exe"
export WINEPATH="$(winpath "$tmp/GnuPG")" FAKE_GPG_RECORD="$tmp/gpg-record.txt" FAKE_GPG_ENCRYPT=1

# run_row PIN: the installed layout, two data files, Settings.ini with FTPS=1
# and that FTPSCertificate, one unattended run; its journal in $text.
run_row() {
    app="$tmp/Odesílání dat/program" data="$tmp/Data pacientů"
    rm -rf "$app" "$data" "$tmp/originals"
    mkdir -p "$app" "$data"
    cp "$roderuv" "$app/roderuv.exe"
    cp "$launcher" "$app/gpg.exe"
    printf 'Pacient;Diagnóza\r\nNovák Jiří;Č 12\r\n' | cp1250 >"$data/pacienti_září.csv"
    head -c 300000 /dev/urandom >"$data/výsledky 2026.bin"
    cp -a "$data" "$tmp/originals"
    {
        printf '[General]\r\nFTPServer=127.0.0.1:%s\r\nLogin=%s\r\nHeslo=%s\r\nProxy=0\r\n' \
            "$port" "$user" "$(printf '%s' "$password" | base64 -w0)"
        printf 'FTPS=1\r\nFTPSCertificate=%s\r\nTimeOut=30\r\n' "$1"
        printf 'UseLog=1\r\nCestaLog=%s\r\nDeleteLog=0\r\nFilesMoveTo=1\r\n' \
            "$(winpath "$app/Deník odesílání.log")"
        printf 'PocetSouboru=2\r\n[Files]\r\nFile0=%s\r\nFile1=%s\r\n' \
            "$(winpath "$data/pacienti_září.csv")" "$(winpath "$data/výsledky 2026.bin")"
    } | cp1250 >"$app/Settings.ini"
    local status=0
    (cd "$app" && timeout 120 "$wine_run" ./roderuv.exe /auto) || status=$?
    [ -f "$app/Deník odesílání.log" ] || fail "no journal (status $status)"
    text=$(iconv -f CP1250 -t UTF-8 "$app/Deník odesílání.log") || fail "journal is not Windows-1250"
    [ "$status" = 0 ] || fail "status $status; journal: $text"
}

expect_sent() {
    grep -qF "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. " <<<"$text" ||
        fail "not sent: $text $(cat "$tmp/srv.err")"
    sent=("$root"/*.zip.gpg)
    [ ${#sent[@]} = 1 ] && [ -f "${sent[0]}" ] || fail "on the server: $(ls "$root")"
    /usr/bin/python3 - "${sent[0]}" "$tmp/originals" <<'PY' || fail "archive content"
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    names = {i.filename.encode("cp437").decode("cp1250"): z.read(i) for i in z.infolist()}
want = {n: open(os.path.join(sys.argv[2], n), "rb").read() for n in os.listdir(sys.argv[2])}
assert names == want, sorted(names)
PY
    [ -z "$(ls "$data")" ] || fail "data files not deleted: $(ls "$data")"
    rm -f "${sent[0]}"
}

# The run failed with these lines in its journal; nothing arrived, every
# data file is in place.
expect_failed() {
    local line
    for line in "$@"; do
        grep -qF -- "$line" <<<"$text" || fail "journal lacks '$line': $text"
    done
    ! grep -qF "proběhlo v pořádku" <<<"$text" || fail "reported as sent: $text"
    [ -z "$(find "$root" -type f -size +0)" ] || fail "arrived: $(ls -l "$root")"
    diff -r "$tmp/originals" "$data" >/dev/null || fail "data files touched"
}

refused="Chyba při připojování k FTP serveru: Certifikát serveru byl odmítnut: "
start_server pure-ftpd required
subject=", subjekt: CN=localhost"
row=pure-ftpd-pinned
run_row "$fingerprint" && expect_sent && echo "ok: $row"
row=pure-ftpd-wrong-pin
[ "${fingerprint:0:1}" = A ] && wrong="B${fingerprint:1}" || wrong="A${fingerprint:1}"
run_row "$wrong"
expect_failed "${refused}jeho otisk není nastavený otisk. Otisk SHA-256: $fingerprint$subject"
echo "ok: $row"
row=pure-ftpd-untrusted
run_row ""
expect_failed "$refused" ". Otisk SHA-256: $fingerprint$subject"
echo "ok: $row"

start_server vsftpd noreuse
row=vsftpd-no-reuse-pinned
run_row "$fingerprint" && expect_sent && echo "ok: $row"

# Wine's SChannel cannot resume the control connection's session.
start_server vsftpd required
row=vsftpd-reuse-required
run_row "$fingerprint"
expect_failed "Chyba při uploadu." "522 SSL connection failed" \
    "(datové spojení TLS neobnovilo relaci řídicího spojení)" "Soubor neodeslán."
echo "ok: $row"

# No TLS at all: AUTH TLS is refused, and the run ends there.
start_server pyftpdlib none
row=pyftpdlib-without-tls
run_row "$(printf 'A%.0s' $(seq 64))"
expect_failed "Chyba při připojování k FTP serveru: 5"
echo "ok: $row"
stop_server
echo "windows FTPS runs: 6 unattended runs passed"
