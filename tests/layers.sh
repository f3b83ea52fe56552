#!/usr/bin/env bash
# Each source folder may include only the folders below it in this order; a file that reaches
# up (or sideways into a peer) fails the test with its name and the offending include. Written for
# the bash 3.2 that macOS ships: no associative arrays.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
allowed() {
    case "$1" in
    base) echo "base" ;;
    net) echo "net base" ;;
    models) echo "models net base" ;;
    account) echo "account net base" ;;
    canvas) echo "canvas base" ;;
    session) echo "session models account canvas net base" ;;
    ui) echo "ui session models account canvas net base" ;;
    history) echo "history ui session models account canvas net base" ;;
    app) echo "app history ui session models account canvas net base" ;;
    esac
}
status=0
for folder in base net models account canvas session ui history app; do
    may="$(allowed "$folder")"
    while IFS=: read -r file include; do
        target="${include#*\"}"
        target="${target%%/*}"
        if [[ " $may " != *" $target "* ]]; then
            echo "$file includes $target/: $folder/ may include only $may" >&2
            status=1
        fi
    done < <(grep -HoE '#include "[a-z]+/[^"]+"' "$root/$folder"/*.h "$root/$folder"/*.cpp "$root/$folder"/*.mm 2>/dev/null || true)
done
exit $status
