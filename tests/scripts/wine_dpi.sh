#!/usr/bin/env bash
# wine_dpi.sh WINE_RUN DPI PROGRAM [ARG...]
# Runs a Windows program under Wine on a screen of DPI pixels per inch: Wine
# takes it from the user's LogPixels when a program starts. The value is put
# back as it was when the program ends.
set -euo pipefail
wine_run=$1 dpi=$2
shift 2
key='HKCU\Control Panel\Desktop'
before=$("$wine_run" reg query "$key" /v LogPixels 2>/dev/null | tr -d '\r' |
    sed -n 's/.*LogPixels.*REG_DWORD *0x\([0-9a-f]*\).*/\1/p') || true
restore() {
    if [ -n "$before" ]; then
        "$wine_run" reg add "$key" /v LogPixels /t REG_DWORD /d $((16#$before)) /f >/dev/null 2>&1
    else
        "$wine_run" reg delete "$key" /v LogPixels /f >/dev/null 2>&1 || true
    fi
}
trap restore EXIT
"$wine_run" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
"$wine_run" "$@"
