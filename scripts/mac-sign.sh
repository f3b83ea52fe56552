#!/usr/bin/env bash
# Signs a bundled Dravlin.app from the inside out with a hardened runtime: every library and
# plug-in, the web engine's helper with the entitlements Qt ships beside it (its renderer's
# JavaScript engine needs them, or it dies on launch), the frameworks, then the app. The identity
# is DRAVLIN_SIGN_IDENTITY (a Developer ID in the keychain), or "-" for an ad-hoc signature.
# Usage: mac-sign.sh path/to/Dravlin.app
set -euo pipefail
app="${1:?usage: mac-sign.sh path/to/Dravlin.app}"
identity="${DRAVLIN_SIGN_IDENTITY:--}"
[ "$(uname -s)" = Darwin ] || { echo "mac-sign.sh signs a macOS bundle: run it on a Mac." >&2; exit 1; }

# Ad-hoc signatures cannot carry a secure timestamp; notarisation needs one.
if [ "$identity" = "-" ]; then
    timestamp=(--timestamp=none)
else
    timestamp=(--timestamp)
fi
sign() {
    codesign --force --options runtime "${timestamp[@]}" --sign "$identity" "$@"
}

frameworks="$app/Contents/Frameworks"
helper="$frameworks/QtWebEngineCore.framework/Helpers/QtWebEngineProcess.app"
entitlements="$helper/Contents/Resources/QtWebEngineProcess.entitlements"
[ -f "$entitlements" ] || { echo "Qt's entitlements for the web engine's helper are missing: $entitlements" >&2; exit 1; }

# Loose libraries and plug-ins first (the frameworks' own binaries are signed with their bundle).
while IFS= read -r -d '' file; do
    case "$file" in
    *.framework/*) continue ;;
    esac
    if file -b "$file" | grep -q 'Mach-O'; then
        sign "$file"
    fi
done < <(find "$app/Contents" -type f \( -name '*.dylib' -o -name '*.so' -o -path '*/PlugIns/*' \) -print0)

sign --entitlements "$entitlements" "$helper"
for framework in "$frameworks"/*.framework; do
    sign "$framework"
done
sign "$app"

codesign --verify --deep --strict --verbose=2 "$app"
codesign --display --entitlements - "$helper" | grep -q 'com.apple.security' ||
    { echo "The helper was signed without its entitlements." >&2; exit 1; }
echo "Signed ($identity): $app"
