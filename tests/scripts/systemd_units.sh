#!/usr/bin/env bash
# systemd_units.sh RODERUV
# The service and timer of scripts/linux pass "systemd-analyze verify" once
# the folder and the user are the ones an administrator puts in (here the
# built program's folder and the current user); any warning fails too.
# Skipped (status 77) where systemd-analyze is not installed.
set -euo pipefail
command -v systemd-analyze >/dev/null || { echo "systemd-analyze not installed"; exit 77; }
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
