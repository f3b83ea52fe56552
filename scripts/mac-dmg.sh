#!/usr/bin/env bash
# Makes the disk image from the signed bundle in the build folder's dist/ (CPack's DragNDrop
# generator: the app beside a link to /Applications). Usage: mac-dmg.sh [build folder]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$here/build}" && pwd)"
[ "$(uname -s)" = Darwin ] || { echo "mac-dmg.sh makes a macOS disk image: run it on a Mac." >&2; exit 1; }
[ -d "$build/dist/Dravlin.app" ] || { echo "No bundle in $build/dist: run scripts/mac-bundle.sh first." >&2; exit 1; }
codesign --verify --strict "$build/dist/Dravlin.app" || { echo "The bundle is not signed: run scripts/mac-sign.sh first." >&2; exit 1; }
(cd "$build" && cpack --config CPackConfig.cmake -G DragNDrop -B "$build")
ls "$build"/Dravlin-*.dmg
