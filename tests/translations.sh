#!/usr/bin/env bash
# Every catalogue is complete: no message waits for its translation or is left over from old
# sources. With lupdate given, a copy of each is first brought up to date with the sources, so a
# text marked for translation but never translated fails here too.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
lupdate="${1:-}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cp "$root"/translations/*.ts "$scratch"/
if [ -n "$lupdate" ]; then
    sources=(net models account canvas session ui history app)
    cd "$root"
    "$lupdate" -silent -locations none -I . -extensions cpp,h,qml "${sources[@]}" \
        -ts $(ls "$scratch"/*.ts | grep -v '_en\.ts$')
    "$lupdate" -silent -pluralonly -locations none -I . -extensions cpp,h,qml "${sources[@]}" \
        -ts "$scratch/dravlin_en.ts"
fi
if grep -nE 'type="(unfinished|vanished|obsolete)"' "$root"/translations/*.ts "$scratch"/*.ts; then
    echo "Unfinished or left-over messages: build update_translations and finish translations/*.ts" >&2
    exit 1
fi
echo "PASS: $(ls "$scratch" | tr '\n' ' ')"
