#!/usr/bin/env bash
# Renders the Mac icon set (16 to 1024 pixels, each size also at twice the density) from the same
# artwork as the Linux icon, into packaging/macos/Dravlin.iconset, which is committed: the build
# turns it into Dravlin.icns with iconutil. Run it again after changing the artwork. Needs
# rsvg-convert (Debian: librsvg2-bin; Homebrew: librsvg).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
svg="$here/packaging/icons/app.dravlin.Dravlin.svg"
out="$here/packaging/macos/Dravlin.iconset"
mkdir -p "$out"
for size in 16 32 128 256 512; do
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$out/icon_${size}x${size}.png"
    rsvg-convert -w $((size * 2)) -h $((size * 2)) "$svg" -o "$out/icon_${size}x${size}@2x.png"
done
