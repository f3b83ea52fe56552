#!/bin/sh
# Runs a test program against the platform's real secret store, never the user's own: on Linux a
# private session bus, a fresh home and an unlocked gnome-keyring (so no unlock prompt can hang);
# on macOS a throw-away keychain that stands in for the user's keychains while the test runs.
set -e
home="$(mktemp -d)"
if [ "$(uname -s)" = Darwin ]; then
    keychain="$home/test.keychain-db"
    # The user's own search list and default keychain, put back however the test ends.
    saved_default="$(security default-keychain -d user | tr -d ' "')"
    saved_list="$(security list-keychains -d user | tr -d '"')"
    restore() {
        security default-keychain -d user -s "$saved_default" || true
        # shellcheck disable=SC2086 # one path per word, as security(1) printed them
        security list-keychains -d user -s $saved_list || true
        security delete-keychain "$keychain" 2>/dev/null || true
        rm -rf "$home"
    }
    trap restore EXIT
    trap 'exit 1' INT TERM
    security create-keychain -p "" "$keychain"
    security set-keychain-settings "$keychain" # no automatic locking mid-test
    security unlock-keychain -p "" "$keychain"
    security list-keychains -d user -s "$keychain"
    security default-keychain -d user -s "$keychain"
    DRAVLIN_TEST_KEYCHAIN="$keychain" "$@"
    exit
fi
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- sh -c 'echo "" | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1; "$@"' sh "$@"
