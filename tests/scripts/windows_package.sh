#!/usr/bin/env bash
# windows_package.sh WINE_RUN SETUP ZIP RODERUV_EXE GPG_EXE FAKE_GPG PROBE VERSION
# The Windows package as a clinic's administrator meets it, under Wine: the
# zip and the two executables (version information, icon, no symbols); then
# one silent installer run per row, each with its exit status and the files
# and registry values it leaves (a running program, files in use, downgrades,
# the daily task and a failed re-registration of it, the key import, the
# starting Settings.ini, the folder of an upgrade); the silent uninstaller
# removes what was installed and nothing else. PROBE is package-probe.exe,
# FAKE_GPG stands in for GnuPG for Windows.
set -euo pipefail
export LC_ALL=C.UTF-8
# The program opens its window on a display; everything Wine starts here
# shares one (the test stage's, or a display of our own).
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$@"
fi
wine_run=$1 setup=$2 zip=$3 roderuv=$4 gpg=$5 fake_gpg=$6 probe=$7 version=$8
row=zip
fail() {
    echo "FAILED ($row): $*" >&2
    exit 1
}
tmp=$(mktemp -d)
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\RODERUV'
program=
schtasks_kept=
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    [ -z "$schtasks_kept" ] || cp "$schtasks_kept" "$drive_c/windows/system32/schtasks.exe"
    "$wine_run" reg delete 'HKCU\Software\RODERUV' /f >/dev/null 2>&1 || true
    "$wine_run" reg delete 'HKLM\SOFTWARE\GnuPG' /f >/dev/null 2>&1 || true
    "$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true
    rm -rf "$tmp" "${created[@]}"
}
created=()
trap cleanup EXIT
# Windows programs see the prefix's drive_c as C: and / as Z: (one Wine
# start less per path).
drive_c=$(cd "$("$wine_run" winepath -u 'C:\')" && pwd -P)
win() {
    local path
    path=$(realpath -m "$1")
    case $path in
    "$drive_c"/*) path="C:${path#"$drive_c"}" ;;
    *) path="Z:$path" ;;
    esac
    echo "${path//\//\\}"
}

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

# Both executables as Explorer reads them (the Czech description proves the
# resource's UTF-16), and stripped.
for exe in "roderuv.exe|RODERUV - Projekt TANO, odesílání dat|1" \
    "gpg.exe|Spouštěč GnuPG pro RODERUV|0"; do
    IFS='|' read -r name description icons <<<"$exe"
    row=$name
    file=$tmp/zip/$name
    info=$("$wine_run" "$probe" version "$(win "$file")")
    value() { sed -n "s/^$1=//p" <<<"$info"; }
    [ "$(value FileDescription)" = "$description" ] || fail "FileDescription: $(value FileDescription)"
    [[ "$(value FileVersion)" =~ ^$version\.0\.[0-9]+$ ]] || fail "FileVersion: $(value FileVersion)"
    [ "$(value FixedFileVersion)" = "$(value FileVersion)" ] || fail "fixed version $(value FixedFileVersion)"
    [ -n "$(value CompanyName)" ] && [[ "$(value LegalCopyright)" == "© "[0-9][0-9][0-9][0-9]" $(value CompanyName)" ]] &&
        [ "$(value OriginalFilename)" = "$name" ] && [ "$(value ProductVersion)" = "$version" ] ||
        fail "version information: $info"
    [ "$(value Icons)" -ge "$icons" ] || fail "$(value Icons) icons"
    [ "$(x86_64-w64-mingw32-objdump -t "$file" | grep -c '^\[')" = 0 ] || fail "not stripped"
done
publisher=$(sed -n 's/^CompanyName=//p' <<<"$info")

# Where Windows puts the user's programs and Start menu, as Linux paths.
{ read -r local_app_data; read -r app_data; } < <("$wine_run" cmd /c 'echo %LOCALAPPDATA%&echo %APPDATA%' | tr -d '\r')
unix() { local path=${1#[Cc]:}; echo "$drive_c${path//\\//}"; }
app=$(unix "$local_app_data")/RODERUV
menu="$(unix "$app_data")/Microsoft/Windows/Start Menu/Programs/RODERUV"
tasks=$drive_c/windows/system32/tasks
czech=$drive_c/Klinika
created=("$app" "$menu" "$czech" "$drive_c/Κλινική" "$tasks/RODERUV")
rm -rf "${created[@]}"
"$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true

# The uninstall entry as it is now; then entry NAME gives a value of it as
# text (a DWORD in decimal), "" if none.
read_entry() {
    rm -f "$tmp/entry.reg"
    "$wine_run" reg export "$key" "$(win "$tmp")\\entry.reg" /y >/dev/null 2>&1 || true
}
entry() {
    local v
    v=$(iconv -f UTF-16 -t UTF-8 "$tmp/entry.reg" 2>/dev/null | tr -d '\r' | sed -n "s/^\"$1\"=//p")
    case $v in
    dword:*) echo $((16#${v#dword:})) ;;
    *) sed -e 's/^"\(.*\)"$/\1/' -e 's/\\\\/\\/g' -e 's/\\"/"/g' <<<"$v" ;;
    esac
}
listing() { (cd "$1" && find . -mindepth 1 | sed 's|^\./||' | sort | tr '\n' ' '); }
installed_files="CTIMNE.txt Settings.ini gpg.exe odinstalovat.exe roderuv.exe "
# The starting Settings.ini the program itself would write for FOLDER.
settings() { printf '[General]\r\nUseLog=1\r\nCestaLog=%s\\roderuv.log\r\nTimeOut=120\r\n' "$1" | iconv -t CP1250; }
mark() { for f in roderuv.exe gpg.exe CTIMNE.txt; do printf old >>"$app/$f" && cp "$app/$f" "$tmp/$f.old"; done; }
unchanged() {
    for f in roderuv.exe gpg.exe CTIMNE.txt; do cmp -s "$app/$f" "$tmp/$f.old" || fail "$f replaced"; done
    [ -z "$(cd "$app" && ls -d -- *.new *.old 2>/dev/null)" ] || fail "left: $(listing "$app")"
}
fresh() {
    cmp "$app/roderuv.exe" "$roderuv" && cmp "$app/gpg.exe" "$gpg" &&
        cmp "$app/CTIMNE.txt" "$tmp/zip/CTIMNE.txt" || fail "files not installed"
}
# held FILE: a program keeps FILE open, sharing only reading, until released.
held() {
    rm -f "$tmp/release" "$tmp/held"
    "$wine_run" "$probe" hold "$(win "$1")" "$(win "$tmp")\\release" >"$tmp/held" &
    for _ in $(seq 100); do [ -s "$tmp/held" ] && return 0; sleep 0.1; done
    fail "the file was not held"
}
release() { touch "$tmp/release" && wait; }
# xml FILE PATH=VALUE|PATH~REGEX...: the element at each path (from the
# task) holds VALUE, or matches REGEX.
xml() {
    /usr/bin/python3 - "$@" <<'EOF' || fail "task XML"
import re, sys, xml.etree.ElementTree as ET
ns = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
root = ET.parse(sys.argv[1]).getroot()
for check in sys.argv[2:]:
    path, how, want = re.match(r"([^=~]*)([=~])(.*)", check).groups()
    got = root.findtext("/".join("t:" + p for p in path.split("/")), namespaces=ns)
    if got is None or not (got == want if how == "=" else re.fullmatch(want, got)):
        sys.exit(f"{path} is {got!r}, not {want!r}")
EOF
}
task_folder() {
    "$wine_run" reg query 'HKCU\Software\RODERUV' /v TaskFolder 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *TaskFolder *REG_SZ *//p'
}
task_settings=(Settings/MultipleInstancesPolicy=IgnoreNew Settings/StartWhenAvailable=true
    Settings/ExecutionTimeLimit=PT1H Settings/DisallowStartIfOnBatteries=false)
gnupg_as() { "$wine_run" reg add 'HKLM\SOFTWARE\GnuPG' /v 'Install Directory' /d "$(win "$tmp/GnuPG")" /f >/dev/null; }
mkdir -p "$tmp/GnuPG/bin" "$tmp/Klíče registru"
cp "$fake_gpg" "$tmp/GnuPG/bin/gpg.exe"
echo "-----BEGIN PGP PUBLIC KEY BLOCK-----" >"$tmp/Klíče registru/klíč.asc"

# One silent installation per row: name | switches | expected exit status
# (no switches: no installation). Before it, prepare_<name> (if any) sets the
# stage; after it, verify_<name> checks what it left. The rows run in order,
# each on what the last left.
rows=(
    "first|/S|0"
    "running|/S|3"
    "old_version_running|/S|5"
    "notes_held|/S|5"
    "newer_installed|/S|4"
    "downgrade|/S /DOWNGRADE|0"
    "settings_kept|/S|0"
    "bad_time|/S /TASK=24:00|6"
    "task|/S /TASK=07:30|0"
    "missing_key|/S /KEY=nic.asc|6"
    "key|/S /KEY=Klíče registru\\klíč.asc|0"
    "key_refused|/S /KEY=Klíče registru\\klíč.asc|8"
    "task_failed|/S /TASK=08:00|7"
    "uninstall||"
    "czech_folder|/S /D=C:\\Klinika\\Žďár\\RODERUV|0"
    "upgrade_same_folder|/S|0"
    "greek_folder|/S /D=C:\\Κλινική|6"
)
verify_first() {
    fresh && read_entry
    [ "$(listing "$app")" = "$installed_files" ] || fail "folder holds: $(listing "$app")"
    cmp "$app/Settings.ini" <(settings "$(win "$app")") || fail "Settings.ini: $(od -c "$app/Settings.ini")"
    [ -f "$menu/RODERUV.lnk" ] || fail "no Start-menu entry"
    [ "$(entry DisplayVersion)" = "$version" ] && [ "$(entry Publisher)" = "$publisher" ] &&
        [ "$(entry InstallLocation)" = "$(win "$app")" ] &&
        [ "$(entry DisplayIcon)" = "$(win "$app")\\roderuv.exe,0" ] &&
        [ "$(entry QuietUninstallString)" = "\"$(win "$app")\\odinstalovat.exe\" /S" ] ||
        fail "uninstall entry: $(iconv -f UTF-16 -t UTF-8 "$tmp/entry.reg")"
    local size=$(($(stat -c %s "$roderuv") + $(stat -c %s "$gpg")))
    [ $(($(entry EstimatedSize) * 1024)) -ge "$size" ] && [ $(($(entry EstimatedSize) * 1024)) -lt $((size * 2)) ] ||
        fail "EstimatedSize $(entry EstimatedSize)"
    # With the starting Settings.ini an unattended run journals its failure.
    (cd "$app" && timeout 120 "$wine_run" ./roderuv.exe /auto) || fail "roderuv.exe /auto"
    grep -q "Kontrola nastavení" <<<"$(iconv -f CP1250 -t UTF-8 "$app/roderuv.log")" || fail "no journal"
}
prepare_running() {
    mark
    "$wine_run" reg add "$key" /v DisplayVersion /d 1.2 /f >/dev/null
    (cd "$app" && exec "$wine_run" ./roderuv.exe) &
    program=$!
    "$wine_run" "$probe" window "Projekt TANO" || fail "no window"
}
verify_running() {
    unchanged && read_entry
    [ "$(entry DisplayVersion)" = 1.2 ] || fail "uninstall entry changed"
    # The uninstaller in place (as _?= runs it) reports its status.
    local status=0
    "$wine_run" "$app/odinstalovat.exe" /S "_?=$(win "$app")" || status=$?
    [ "$status" = 3 ] || fail "uninstaller over the running program: status $status"
    unchanged
    "$wine_run" "$probe" window "Projekt TANO" close || fail "window not closed"
    wait "$program"
    program=
}
# An older version announces nothing: its executable, running, is the sign.
prepare_old_version_running() {
    cp "$probe" "$app/roderuv.exe" && cp "$probe" "$tmp/roderuv.exe.old"
    rm -f "$tmp/release" "$tmp/held"
    (cd "$app" && exec "$wine_run" ./roderuv.exe hold Settings.ini "$(win "$tmp")\\release" >"$tmp/held") &
    for _ in $(seq 100); do [ -s "$tmp/held" ] && return 0; sleep 0.1; done
    fail "the old version did not start"
}
verify_old_version_running() { release && unchanged; }
# The notes come third: the two files already swapped in go back.
prepare_notes_held() { held "$app/CTIMNE.txt"; }
verify_notes_held() { release && unchanged; }
# Newer as a number, older as text.
prepare_newer_installed() { "$wine_run" reg add "$key" /v DisplayVersion /d 1.10 /f >/dev/null; }
verify_newer_installed() { unchanged && read_entry && [ "$(entry DisplayVersion)" = 1.10 ] || fail "entry changed"; }
verify_downgrade() { fresh && read_entry && [ "$(entry DisplayVersion)" = "$version" ] || fail "entry not updated"; }
prepare_settings_kept() { printf '[General]\r\nFTPServer=ftp.example.org\r\n' >"$app/Settings.ini" && cp "$app/Settings.ini" "$tmp/kept"; }
verify_settings_kept() { cmp "$app/Settings.ini" "$tmp/kept" || fail "Settings.ini touched"; }
verify_bad_time() { [ ! -e "$app/uloha.xml" ] && [ ! -e "$tasks/RODERUV" ] || fail "task made"; }
verify_task() {
    [ "$(head -c 2 "$app/uloha.xml" | od -An -tx1 | tr -d ' ')" = fffe ] || fail "task XML not UTF-16"
    xml "$app/uloha.xml" "Actions/Exec/Command=$(win "$app")\\roderuv.exe" \
        Actions/Exec/Arguments=/auto Triggers/CalendarTrigger/StartBoundary~'\d{4}-\d\d-\d\dT07:30:00' \
        Triggers/CalendarTrigger/ScheduleByDay/DaysInterval=1 Principals/Principal/LogonType=InteractiveToken \
        "${task_settings[@]}"
    [ -f "$tasks/RODERUV" ] || fail "no task registered"
    xml "$tasks/RODERUV" "${task_settings[@]}"
    [ "$(task_folder)" = "$(win "$app")" ] || fail "task recorded for $(task_folder)"
}
verify_missing_key() { [ ! -e "$app/gnupg" ] || fail "gnupg made"; }
prepare_key() { gnupg_as && cd "$tmp"; }
verify_key() {
    cd /
    local home; home=$(win "$app")\\gnupg
    [ -d "$app/gnupg" ] || fail "no gnupg folder"
    printf -v want 'arg=%s\n' --batch --no-tty --yes --trust-model always --homedir "$home" --import \
        "$(win "$tmp")\\Klíče registru\\klíč.asc"
    [ "$(grep '^arg=' "$tmp/gpg-record.txt")" = "${want%$'\n'}" ] || fail "gpg got: $(cat "$tmp/gpg-record.txt")"
}
prepare_key_refused() { export FAKE_GPG_EXIT=2 && cd "$tmp"; }
verify_key_refused() {
    cd / && unset FAKE_GPG_EXIT && fresh
    "$wine_run" reg delete 'HKLM\SOFTWARE\GnuPG' /f >/dev/null
}
# schtasks fails: the task registered before, its uloha.xml and its record
# stay for the uninstaller. Wine runs its own schtasks unless told to load
# the file in system32.
prepare_task_failed() {
    schtasks_kept=$tmp/schtasks.exe
    cp "$drive_c/windows/system32/schtasks.exe" "$schtasks_kept"
    cp "$fake_gpg" "$drive_c/windows/system32/schtasks.exe"
    export FAKE_GPG_EXIT=1 WINEDLLOVERRIDES=schtasks.exe=n
}
verify_task_failed() {
    unset FAKE_GPG_EXIT WINEDLLOVERRIDES
    cp "$schtasks_kept" "$drive_c/windows/system32/schtasks.exe"
    schtasks_kept=
    grep -qx 'arg=/Create' "$tmp/gpg-record.txt" || fail "schtasks got: $(cat "$tmp/gpg-record.txt")"
    xml "$app/uloha.xml" Triggers/CalendarTrigger/StartBoundary~'.*T07:30:00'
    if [ -e "$app/uloha.xml.new" ] || [ ! -f "$tasks/RODERUV" ] || [ "$(task_folder)" != "$(win "$app")" ]; then
        fail "the task registered before lost: $(listing "$app")"
    fi
}
# The uninstaller: the task (also one this folder keeps no uloha.xml or
# record of, as an earlier version could leave it) and the program's files
# go; the settings, the journal and the key stay.
prepare_uninstall() {
    rm "$app/uloha.xml"
    "$wine_run" reg delete 'HKCU\Software\RODERUV' /f >/dev/null
}
verify_uninstall() {
    "$wine_run" "$app/odinstalovat.exe" /S
    for _ in $(seq 60); do read_entry && [ -z "$(entry DisplayName)" ] && break; sleep 0.25; done
    [ -z "$(entry DisplayName)" ] || fail "uninstall entry left"
    [ ! -e "$menu" ] && [ ! -e "$tasks/RODERUV" ] || fail "Start menu or task left"
    [ "$(listing "$app")" = "Settings.ini gnupg roderuv.log " ] ||
        fail "after uninstalling: $(listing "$app")"
    [ "$(grep -c . "$app/Settings.ini")" = 2 ] || fail "Settings.ini changed"
    rm -rf "$app"
}
verify_czech_folder() {
    local folder=$czech/Žďár/RODERUV
    read_entry
    cmp "$folder/Settings.ini" <(settings 'C:\Klinika\Žďár\RODERUV') || fail "Settings.ini: $(od -c "$folder/Settings.ini")"
    [ "$(entry InstallLocation)" = 'C:\Klinika\Žďár\RODERUV' ] || fail "entry: $(entry InstallLocation)"
    printf x >>"$folder/Settings.ini" && cp "$folder/Settings.ini" "$tmp/kept"
}
verify_upgrade_same_folder() {
    local folder=$czech/Žďár/RODERUV
    [ ! -e "$app" ] && cmp "$folder/roderuv.exe" "$roderuv" && cmp "$folder/Settings.ini" "$tmp/kept" ||
        fail "not installed over the first: $(listing "$folder")"
    read_entry
    [ "$(entry InstallLocation)" = 'C:\Klinika\Žďár\RODERUV' ] || fail "entry: $(entry InstallLocation)"
}
verify_greek_folder() { [ ! -e "$drive_c/Κλινική" ] || fail "folder made"; }

FAKE_GPG_RECORD=$(win "$tmp")\\gpg-record.txt
export FAKE_GPG_RECORD
for entry_row in "${rows[@]}"; do
    IFS='|' read -r row switches expected <<<"$entry_row"
    ! declare -F "prepare_$row" >/dev/null || "prepare_$row"
    # /D= takes the rest of the line, blanks included.
    read -r -a args <<<"${switches%%/D=*}"
    [[ $switches != */D=* ]] || args+=("/D=${switches#*/D=}")
    [[ $switches != */KEY=* ]] || args=(/S "/KEY=${switches#*/KEY=}")
    if [ -n "$switches" ]; then
        status=0
        "$wine_run" "$setup" "${args[@]}" || status=$?
        [ "$status" = "$expected" ] || fail "exit status $status, not $expected"
    fi
    ! declare -F "verify_$row" >/dev/null || "verify_$row"
done
echo "windows package: zip, executables, ${#rows[@]} installer rows, uninstall passed"
