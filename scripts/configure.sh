#!/usr/bin/env bash
# Configures a build folder with Ninja: configure.sh DIR [cmake options...]. Ninja tracks the QML
# compiler's outputs file by file, so a build with nothing changed does nothing, and touching one
# QML file recompiles that file alone (Make's generated rules rebuild the whole QML cache). A folder
# set up earlier with another generator is set up afresh.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"
shift
if [ -f "$dir/CMakeCache.txt" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
fi
# shellcheck source=scripts/platform.sh
. "$here/scripts/platform.sh"
if [ "$dravlin_os" = mac ] && [ -z "${CMAKE_PREFIX_PATH:-}" ]; then
    # Homebrew's Qt and QtKeychain, wherever Homebrew lives (Apple silicon and Intel Macs differ).
    CMAKE_PREFIX_PATH="$(brew --prefix)"
    export CMAKE_PREFIX_PATH
fi
cmake -S "$here" -B "$dir" -G Ninja "$@" >/dev/null
