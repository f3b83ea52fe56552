#!/usr/bin/env bash
# Installs what Dravlin builds, runs and tests with: Debian packages with apt, or on macOS Homebrew
# formulae. Idempotent: what is already present is skipped, and nothing is installed when all of it
# is there.
set -euo pipefail
# shellcheck source=scripts/platform.sh
. "$(dirname "${BASH_SOURCE[0]}")/platform.sh"

if [ "$dravlin_os" = mac ]; then
    command -v brew >/dev/null || { echo "Homebrew is needed first: see https://brew.sh" >&2; exit 1; }
    # Xcode's command line tools bring the compiler, iconutil and codesign.
    xcode-select -p >/dev/null 2>&1 || { echo "Install Xcode's command line tools first: xcode-select --install" >&2; exit 1; }
    formulae=(qt qtkeychain cmake ninja clang-format node)
    missing=()
    for f in "${formulae[@]}"; do
        brew list --formula "$f" >/dev/null 2>&1 || missing+=("$f")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        brew install "${missing[@]}"
    fi
    exit 0
fi

packages=(
    cmake ninja-build make g++ pkg-config clang-format
    qt6-base-dev qt6-declarative-dev qt6-webengine-dev
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
    qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-controls
    qml6-module-qtquick-templates qml6-module-qtquick-layouts qml6-module-qtquick-dialogs
    qml6-module-qt-labs-folderlistmodel qml6-module-qt-labs-platform qml6-module-qtqml-workerscript
    qml6-module-qtwebengine qml6-module-qtqml qml6-module-qtqml-models
    qml6-module-qttest qt6-image-formats-plugins libqt6svg6 libqt6sql6-sqlite
    qt6-xdgdesktopportal-platformtheme qt6-gtk-platformtheme
    fonts-inter fonts-noto-color-emoji fonts-dejavu-core
    qtkeychain-qt6-dev libsecret-1-dev libsecret-1-0 gnome-keyring dbus libglib2.0-bin
    libgl-dev xvfb xauth
    dpkg-dev file desktop-file-utils
    clang libfuzzer-14-dev
)
# The workflow check runs on Node.js; one installed another way (NodeSource's, with its own npm)
# is used as it is.
if ! command -v npm >/dev/null; then
    packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
