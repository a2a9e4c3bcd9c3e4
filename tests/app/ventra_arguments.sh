#!/usr/bin/env bash
# ventra answers --help and --version at a terminal and refuses what it does not take, without
# starting the app; the autostart entry's marker is still accepted (the desktop roads run it).
set -uo pipefail
ventra=$1
fail() { echo "ventra_arguments: $*" >&2; exit 1; }

help=$("$ventra" --help) || fail "--help exits $?"
[[ $help == *"Usage: ventra"*"--launched-as-login-item"* ]] || fail "--help says: $help"
version=$("$ventra" --version) || fail "--version exits $?"
[[ $version =~ ^ventra\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version says: $version"
error=$("$ventra" --frobnicate 2>&1 >/dev/null)
status=$?
[[ $status == 2 ]] || fail "an unknown option exits $status"
[[ $error == *"--frobnicate"*"ventra --help"* ]] || fail "an unknown option says: $error"
echo "ventra_arguments: --help, --version and a usage error answered"
