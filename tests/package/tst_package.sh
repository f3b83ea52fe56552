#!/usr/bin/env bash
# Builds the .deb from this build tree and unpacks it into a scratch root: the program, its canvas
# page, the menu entry (claiming dravlin-mac links), the icon and the metadata must all be where
# the desktop looks for them, and the package must name what the window loads at run time.
set -euo pipefail
build="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

(cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >/dev/null)
deb="$(ls "$scratch"/out/*.deb)"
dpkg-deb -x "$deb" "$scratch/root"

fail() { echo "FAIL: $*" >&2; exit 1; }
for path in usr/bin/dravlin \
            usr/share/dravlin/Canvas/index.html usr/share/dravlin/Canvas/canvas.js usr/share/dravlin/Canvas/canvas.css \
            usr/share/applications/app.dravlin.Dravlin.desktop \
            usr/share/metainfo/app.dravlin.Dravlin.metainfo.xml \
            usr/share/icons/hicolor/scalable/apps/app.dravlin.Dravlin.svg \
            usr/share/icons/hicolor/256x256/apps/app.dravlin.Dravlin.png; do
    [ -e "$scratch/root/$path" ] || fail "$path is missing from the package"
done
[ -x "$scratch/root/usr/bin/dravlin" ] || fail "the program is not executable"

desktop="$scratch/root/usr/share/applications/app.dravlin.Dravlin.desktop"
grep -qx 'MimeType=x-scheme-handler/dravlin-mac;' "$desktop" || fail "the menu entry does not claim dravlin-mac links"
grep -qx 'Exec=dravlin %u' "$desktop" || fail "the menu entry does not pass the link on"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "the menu entry is not valid"
fi

fields="$(dpkg-deb -f "$deb" Package Version Depends)"
grep -q '^Package: dravlin$' <<<"$fields" || fail "wrong package name"
for needed in libqt6webenginequick6 libqt6sql6-sqlite libqt6keychain1 libsecret-1-0 qml6-module-qtwebengine qml6-module-qtquick-controls fonts-noto-color-emoji; do
    grep -q "$needed" <<<"$fields" || fail "the package does not depend on $needed"
done
grep -q "<release version=\"$(dpkg-deb -f "$deb" Version)\"" \
    "$scratch/root/usr/share/metainfo/app.dravlin.Dravlin.metainfo.xml" || fail "the metadata names another version"
echo "PASS: $(basename "$deb")"
