#!/usr/bin/env bash
# Installs what Dravlin needs, builds it and launches it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/platform.sh
. "$here/scripts/platform.sh"
"$here/scripts/setup-deps.sh"
"$here/scripts/configure.sh" "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$here/build" -j"$(cpu_count)"

# Chromium refuses to start its sandbox as root (containers, CI machines).
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --no-sandbox"
fi
run_with_display "$(app_binary "$here/build")" "$@"
