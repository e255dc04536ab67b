#!/usr/bin/env bash
# windows_stop.sh WINE_RUN RODERUV_EXE GPG_EXE FAKE_GPG WINDOW_DRIVER
# Runs of roderuv.exe under Wine stopped while they wait for a server that
# accepts the connection and never greets: by taskkill (WM_CLOSE), by Alt+F4,
# and by the end of the session (WM_QUERYENDSESSION, WM_ENDSESSION), in
# unattended runs and in runs the operator starts with the start button.
# Each row checks that the program ends by itself (a box left on the screen
# would hold it) with the row's status, that the journal's last line says
# the run was stopped, and that the data files are untouched. ExitCode=1
# makes an unattended run's status 14; an operator's run leaves 0 anyway.
set -euo pipefail
export LC_ALL=C.UTF-8
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$@"
fi
wine_run=$1 roderuv=$2 launcher=$3 fake_gpg=$4 driver=$5
tmp=$(mktemp -d)
server='' program=''
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAILED ($row): $*" >&2
    echo "windows on the screen: $("$wine_run" "$tmp/window-driver.exe" list 2>/dev/null | tr '\n' '|')" >&2
    exit 1
}
winpath() { "$wine_run" winepath -w "$1" 2>/dev/null; }
cp1250() { iconv -f UTF-8 -t CP1250; }

# Accepts connections and says nothing; counts them in its log.
/usr/bin/python3 -c '
import socket, sys
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(8)
print("port", s.getsockname()[1], flush=True)
held = []
while True:
    held.append(s.accept()[0])
    print("connection", flush=True)
' >"$tmp/server.log" 2>&1 &
server=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^port //p' "$tmp/server.log" 2>/dev/null || true)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { row=start fail "server: $(cat "$tmp/server.log")"; }
mkdir -p "$tmp/GnuPG"
cp "$fake_gpg" "$tmp/GnuPG/gpg.exe"
cp "$driver" "$tmp/window-driver.exe"
WINEPATH=$(winpath "$tmp/GnuPG") FAKE_GPG_RECORD=$(winpath "$tmp/gpg-record.txt")
export WINEPATH FAKE_GPG_RECORD
export FAKE_GPG_ENCRYPT=1
password=$(printf 'heslo' | base64 -w0)
main_caption="Projekt TANO - Odesílání dat - verze 1.3"
waiting_caption="Připojování k FTP serveru..."
stopped="Odesílání přerušeno - systém požádal o ukončení programu."

# started by | how it is stopped | ExitCode (none if empty) | exit status
rows=(
    "cron|taskkill|1|14"
    "operator|taskkill||0"
    "operator|altf4|1|0"
    "operator|endsession||0"
)
for entry in "${rows[@]}"; do
    IFS='|' read -r started how exit_code expected <<<"$entry"
    row="$started|$how|$exit_code"
    app="$tmp/$started-$how" data="$tmp/Data $started-$how"
    mkdir -p "$app" "$data"
    cp "$roderuv" "$app/roderuv.exe"
    cp "$launcher" "$app/gpg.exe"
    printf 'Pacient;Diagnóza\r\nNovák Jiří;Č 12\r\n' | cp1250 >"$data/pacienti.csv"
    cp -a "$data" "$tmp/originals"
    journal="$app/journal.log"
    {
        printf '[General]\r\nFTPServer=127.0.0.1:%s\r\nLogin=klinika\r\nHeslo=%s\r\n' "$port" "$password"
        printf 'Proxy=0\r\nUseLog=1\r\nCestaLog=%s\r\nDeleteLog=0\r\nFilesMoveTo=1\r\n' "$(winpath "$journal")"
        [ -z "$exit_code" ] || printf 'ExitCode=%s\r\n' "$exit_code"
        printf 'PocetSouboru=1\r\n[Files]\r\nFile0=%s\r\n' "$(winpath "$data/pacienti.csv")"
    } | cp1250 >"$app/Settings.ini"

    connections=$(grep -c '^connection' "$tmp/server.log" || true)
    switch=
    [ "$started" = cron ] && switch=/auto
    (cd "$app" && exec "$wine_run" ./roderuv.exe $switch) &
    program=$!
    if [ "$started" = operator ]; then
        "$wine_run" "$tmp/window-driver.exe" press "$main_caption" "Odeslat soubory" ||
            fail "could not press the start button"
    fi
    for _ in $(seq 300); do
        [ "$(grep -c '^connection' "$tmp/server.log" || true)" -gt "$connections" ] && break
        sleep 0.1
    done
    [ "$(grep -c '^connection' "$tmp/server.log" || true)" -gt "$connections" ] ||
        fail "the run did not connect"

    case $how in
    taskkill) "$wine_run" taskkill /IM roderuv.exe >/dev/null 2>&1 || fail "taskkill" ;;
    altf4) "$wine_run" "$tmp/window-driver.exe" altf4 "$waiting_caption" || fail "Alt+F4" ;;
    endsession)
        "$wine_run" "$tmp/window-driver.exe" endsession "$waiting_caption" ||
            fail "the window did not let the session end"
        # Written before the session ends, not only when the run has unwound.
        iconv -f CP1250 -t UTF-8 "$journal" | tail -n 1 | grep -qF "$stopped" ||
            fail "not journalled while the session ended"
        ;;
    esac

    for _ in $(seq 200); do
        kill -0 "$program" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$program" 2>/dev/null && fail "the program did not end (a box waits?)"
    status=0
    wait "$program" || status=$?
    program=
    [ "$status" = "$expected" ] || fail "status $status, not $expected"
    last=$(iconv -f CP1250 -t UTF-8 "$journal" | tail -n 1 | tr -d '\r' | cut -d' ' -f3-)
    [ "$last" = "$stopped" ] || fail "the journal's last line: $last"
    diff -r "$tmp/originals" "$data" >/dev/null || fail "the data files changed"
    rm -rf "$tmp/originals"
    echo "ok: $row"
done
echo "windows stop: ${#rows[@]} runs stopped as asked"
