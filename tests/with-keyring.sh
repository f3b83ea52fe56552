#!/bin/sh
# Runs a test program against a real Secret Service: a private session bus, a fresh home and an
# unlocked gnome-keyring, so the user's own keyring is never touched and no unlock prompt can hang.
set -e
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- sh -c 'echo "" | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1; "$@"' sh "$@"
