#!/usr/bin/env bash
# Each source folder may include only the folders below it in this order; a file that reaches
# up (or sideways into a peer) fails the test with its name and the offending include.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
declare -A allowed=(
    [base]="base"
    [net]="net base"
    [models]="models net base"
    [account]="account net base"
    [canvas]="canvas base"
    [session]="session models account canvas net base"
    [ui]="ui session models account canvas net base"
    [history]="history ui session models account canvas net base"
    [app]="app history ui session models account canvas net base"
)
status=0
for folder in "${!allowed[@]}"; do
    while IFS=: read -r file include; do
        target="${include#*\"}"
        target="${target%%/*}"
        if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
            echo "$file includes $target/: $folder/ may include only ${allowed[$folder]}" >&2
            status=1
        fi
    done < <(grep -HoE '#include "[a-z]+/[^"]+"' "$root/$folder"/*.h "$root/$folder"/*.cpp || true)
done
exit $status
