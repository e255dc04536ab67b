#!/usr/bin/env bash
# systemd_units.sh RODERUV
# The service and timer of scripts/linux pass "systemd-analyze verify" once
# the folder and the user are the ones an administrator puts in (here the
# built program's folder and the current user); any warning fails too.
set -euo pipefail
source "$(dirname "$0")/skip.sh"
command -v systemd-analyze >/dev/null || skip "systemd-analyze not installed"
units=$(dirname "$0")/../../scripts/linux
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sed "s#/opt/roderuv#$(dirname "$1")#g; s#^User=.*#User=$(id -un)#" "$units/roderuv.service" \
    >"$tmp/roderuv.service"
cp "$units/roderuv.timer" "$tmp/"
out=$(systemd-analyze verify "$tmp/roderuv.service" "$tmp/roderuv.timer" 2>&1) || {
    echo "$out"
    exit 1
}
[ -z "$out" ] || { echo "$out"; exit 1; }
echo "systemd units verified"
