#!/usr/bin/env bash
# Installs a built Mac build folder's app into its dist/ folder: cmake --install runs macdeployqt
# with our QML folders, so dist/Dravlin.app carries the Qt frameworks, plug-ins, QML modules and the
# web engine's helper, and runs on a Mac without Qt. Usage: mac-bundle.sh [build folder]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
dist="$build/dist"
[ "$(uname -s)" = Darwin ] || { echo "mac-bundle.sh makes a macOS bundle: run it on a Mac." >&2; exit 1; }
rm -rf "$dist"
cmake --install "$build" --prefix "$dist"
helper="$dist/Dravlin.app/Contents/Frameworks/QtWebEngineCore.framework/Helpers/QtWebEngineProcess.app"
[ -d "$helper" ] || { echo "The web engine's helper is missing from the bundle: $helper" >&2; exit 1; }
# Nothing may still point into Homebrew's Qt: that would work here and nowhere else.
if find "$dist/Dravlin.app" -type f -perm -u+x -exec otool -L {} + 2>/dev/null | grep -E '^\s+/(opt/homebrew|usr/local)/'; then
    echo "The bundle still links Qt outside itself (above)." >&2
    exit 1
fi
echo "Bundled: $dist/Dravlin.app"
