#!/usr/bin/env bash
# ventra answers --help and --version at a terminal without starting the app, and fails where
# nobody can read the answer; any other argument is handed to the app, which runs as usual (here,
# off the Mac Pro, it quits quietly after its check).
set -uo pipefail
ventra=$1
fail() { echo "ventra_arguments: $*" >&2; exit 1; }

help=$("$ventra" --help) || fail "--help exits $?"
[[ $help == *"Usage: ventra"*"--launched-as-login-item"* ]] || fail "--help says: $help"
version=$("$ventra" --version) || fail "--version exits $?"
[[ $version =~ ^ventra\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version says: $version"
"$ventra" --help >/dev/full 2>/dev/null && fail "--help into a full disk exits 0"
"$ventra" --version >&- 2>/dev/null && fail "--version with its output closed exits 0"
error=$(env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY timeout 60 "$ventra" --frobnicate 2>&1 >/dev/null)
status=$?
[[ $status == 0 ]] || fail "an argument the app ignores: status $status ($error)"
[[ $error != *"ventra --help"* ]] || fail "an argument the app ignores is a usage error: $error"
echo "ventra_arguments: --help and --version answered, or failed where unreadable; other arguments run the app"
