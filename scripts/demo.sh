#!/usr/bin/env bash
# The main job on a demo installation: one unattended send run to a local FTP
# server, then a look at what arrived. Installs the Debian packages it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}" python3-pyftpdlib unzip

root=$PWD
build=${BUILD_DIR:-build-demo}
echo "== Building the program in $build/"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRODERUV_WITH_TESTS=OFF -DRODERUV_WITH_GUI=ON \
      -DRODERUV_WITH_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target roderuv >/dev/null

demo=$root/demo
rm -rf "$demo"
mkdir -p "$demo"/{app,data,ftp,tmp,registry}
app=$demo/app
cp "$build/app/roderuv" "$build/app/gpg.exe" "$app/"

echo "== Making a demo key (it stands in for the registry's key)"
export GNUPGHOME=$demo/registry
chmod 700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key 'Demo registry <demo@registry.invalid>' \
    future-default default never 2>/dev/null
fpr=$(gpg --batch --with-colons --list-keys | awk -F: '/^fpr:/ {print $10; exit}')
key=$(grep -E '^set\(RODERUV_GPG_KEY' CMakeLists.txt | sed -E 's/.*"([^"]+)".*/\1/')
key=$(awk -F= '/^RODERUV_GPG_KEY:STRING=/ {print $2}' "$build/CMakeCache.txt" 2>/dev/null || echo "$key")
mkdir -m 700 "$app/gnupg"
gpg --batch --export "$fpr" | GNUPGHOME=$app/gnupg gpg --batch --quiet --import
printf 'group %s = %s\n' "$key" "$fpr" >"$app/gnupg/gpg.conf"
GNUPGHOME=$app/gnupg gpgconf --kill all 2>/dev/null || true

echo "== Making demo data files"
printf 'id;jméno;diagnóza\r\n1;Jiří Novák;C50\r\n2;Věra Dvořáková;C18\r\n' >"$demo/data/pacienti_září.csv"
printf 'léčba;dávka\r\nchemoterapie;3\r\n' >"$demo/data/léčba.csv"
head -c 200000 /dev/urandom >"$demo/data/výsledky 2026.bin"

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
password=$(printf 'tajné heslo' | iconv -f UTF-8 -t CP1250 | base64 -w0)
{
    printf '[General]\r\n'
    printf 'FTPServer=127.0.0.1:%s\r\nLogin=demo\r\nHeslo=%s\r\nProxy=0\r\n' "$port" "$password"
    printf 'UseLog=1\r\nCestaLog=%s/Log.log\r\nDeleteLog=0\r\nFilesMoveTo=0\r\n' "$app"
    printf 'PocetSouboru=3\r\n[Files]\r\n'
    printf 'File0=%s\r\n' "$demo/data/pacienti_září.csv"
    printf 'File1=%s\r\n' "$demo/data/léčba.csv"
    printf 'File2=%s\r\n' "$demo/data/výsledky 2026.bin"
} | iconv -f UTF-8 -t CP1250 >"$app/Settings.ini"

echo "== Starting an FTP server on 127.0.0.1:$port"
# One user, with commands read as Windows-1250 (the Czech password).
/usr/bin/python3 "$root/scripts/ftpd_cp1250.py" "$port" "$demo/ftp" demo "tajné heslo" \
    >"$demo/ftpd.log" 2>&1 &
ftpd=$!
trap 'kill $ftpd 2>/dev/null || true; GNUPGHOME=$demo/registry gpgconf --kill all 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

echo "== Running: roderuv /auto (no display)"
set +e
env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$demo/tmp" timeout 300 "$app/roderuv" /auto
status=$?
set -e
echo "exit status: $status"

echo "== The run journal ($app/Log.log)"
iconv -f CP1250 -t UTF-8 "$app/Log.log" | tr -d '\r'

echo "== On the FTP server"
ls -l "$demo/ftp"
sent=$(ls "$demo/ftp"/*.gpg 2>/dev/null | head -n 1 || true)
if [ -z "$sent" ]; then
    echo "RESULT: nothing arrived on the server" >&2
    exit 1
fi

echo "== Decrypted with the demo key, the archive holds"
gpg --batch --quiet --decrypt --output "$demo/received.zip" "$sent"
unzip -tq "$demo/received.zip"
# The member names are Windows-1250 (no UTF-8 flag): list and extract them
# with Python's zipfile, which lets us name the code page.
mkdir -p "$demo/received"
/usr/bin/python3 - "$demo/received.zip" "$demo/received" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for info in z.infolist():
        name = info.filename
        if not info.flag_bits & 0x800:
            name = name.encode("cp437").decode("cp1250")
        print("  %9d  %s  %s" % (info.file_size, "%04d-%02d-%02d %02d:%02d" % info.date_time[:5], name))
        with open(sys.argv[2] + "/" + name, "wb") as out:
            out.write(z.read(info))
PY
ok=1
for f in "$demo"/data/*; do
    name=$(basename "$f")
    if cmp -s "$f" "$demo/received/$name"; then
        echo "  identical: $name"
    else
        echo "  DIFFERENT or missing: $name"
        ok=0
    fi
done
if [ $status -eq 0 ] && [ $ok -eq 1 ]; then
    echo "RESULT: all data files arrived intact"
else
    echo "RESULT: the demo run failed" >&2
    exit 1
fi
