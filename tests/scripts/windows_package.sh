#!/usr/bin/env bash
# windows_package.sh WINE_RUN SETUP ZIP RODERUV_EXE GPG_EXE
# The Windows package as a clinic meets it: the zip holds exactly the three
# files; the installer, run silently under Wine, puts the program into the
# user's own folder with a Start-menu entry, the program starts from there;
# the silent uninstaller removes what was installed and nothing else.
set -euo pipefail
export LC_ALL=C
# The program opens its window on a display; everything Wine starts here
# shares one (the test stage's, or a display of our own).
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$@"
fi
wine_run=$1 setup=$2 zip=$3 roderuv=$4 gpg=$5
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The zip: exactly the program, the launcher and the notes, as built; the
# notes as Notepad wants them (UTF-8 with a byte-order mark, CR LF).
[ "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "CTIMNE.txt gpg.exe roderuv.exe " ] ||
    fail "zip holds: $(unzip -Z1 "$zip" | tr '\n' ' ')"
unzip -q "$zip" -d "$tmp/zip"
cmp "$tmp/zip/roderuv.exe" "$roderuv" && cmp "$tmp/zip/gpg.exe" "$gpg"
[ "$(head -c 3 "$tmp/zip/CTIMNE.txt" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "no BOM"
lines=$(tr -cd '\n' <"$tmp/zip/CTIMNE.txt" | wc -c)
[ "$lines" -gt 50 ] && [ "$(grep -c $'\r$' "$tmp/zip/CTIMNE.txt")" = "$lines" ] ||
    fail "CTIMNE.txt lines not ended by CR LF"

# Where Windows puts the user's programs and Start menu, as Linux paths.
winfolder() { "$wine_run" winepath -u "$("$wine_run" cmd /c "echo %$1%" | tr -d '\r')"; }
app=$(winfolder LOCALAPPDATA)/RODERUV
menu="$(winfolder APPDATA)/Microsoft/Windows/Start Menu/Programs/RODERUV"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\RODERUV'
installed() { "$wine_run" reg query "$key" >/dev/null 2>&1; }
rm -rf "$app" "$menu"
"$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true

# case: files the user adds to the program's folder, and what must be left
# of the folder after uninstalling
cases=(
    "none|"
    "Settings.ini odesilani.log gnupg/pubring.kbx|Settings.ini gnupg gnupg/pubring.kbx odesilani.log"
)
for row in "${cases[@]}"; do
    added=${row%%|*} left=${row#*|}
    "$wine_run" "$setup" /S
    cmp "$app/roderuv.exe" "$roderuv" && cmp "$app/gpg.exe" "$gpg"
    [ -f "$app/CTIMNE.txt" ] && [ -f "$app/odinstalovat.exe" ] && [ -f "$menu/RODERUV.lnk" ] &&
        installed || fail "installation incomplete"

    # Unattended run with no Settings.ini: nothing to send, exit status 0,
    # and nothing added to the folder but the run lock.
    (cd "$app" && timeout 120 "$wine_run" ./roderuv.exe /auto) ||
        fail "roderuv.exe /auto from the installed folder"
    [ "$(ls "$app" | tr '\n' ' ')" = "CTIMNE.txt gpg.exe odinstalovat.exe roderuv.exe roderuv.lock " ] ||
        fail "after the run the folder holds: $(ls "$app" | tr '\n' ' ')"

    [ "$added" = none ] || for f in $added; do
        mkdir -p "$(dirname "$app/$f")" && echo "$f" >"$app/$f"
    done
    # The uninstaller goes on from a copy of itself; its last step removes
    # the uninstall entry.
    "$wine_run" "$app/odinstalovat.exe" /S
    for _ in $(seq 120); do installed || break; sleep 0.25; done
    ! installed || fail "uninstaller did not finish"
    [ ! -e "$menu" ] || fail "Start-menu entry left"
    if [ -z "$left" ]; then
        [ ! -e "$app" ] || fail "empty program folder left: $(ls -A "$app")"
    else
        [ "$(cd "$app" && find . -mindepth 1 | sed 's|^\./||' | sort | tr '\n' ' ')" = "$left " ] ||
            fail "after uninstalling: $(cd "$app" && find . -mindepth 1 | sort | tr '\n' ' ')"
        for f in $added; do [ "$(cat "$app/$f")" = "$f" ] || fail "$f changed"; done
    fi
    rm -rf "$app"
done
echo "windows package: zip, install, start, uninstall (2 cases) passed"
