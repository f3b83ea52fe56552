#!/usr/bin/env bash
# Installs the Debian packages Dravlin builds, runs and tests with. Idempotent: packages already
# present are skipped, and nothing is installed when all of them are there.
set -euo pipefail

packages=(
    cmake ninja-build make g++ pkg-config clang-format
    qt6-base-dev qt6-declarative-dev qt6-webengine-dev
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
    qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-controls
    qml6-module-qtquick-templates qml6-module-qtquick-layouts qml6-module-qtquick-dialogs
    qml6-module-qt-labs-folderlistmodel qml6-module-qt-labs-platform qml6-module-qtqml-workerscript
    qml6-module-qtwebengine
    qml6-module-qttest qt6-image-formats-plugins libqt6svg6 libqt6sql6-sqlite
    qt6-xdgdesktopportal-platformtheme qt6-gtk-platformtheme
    fonts-inter fonts-noto-color-emoji fonts-dejavu-core
    libsecret-1-dev libsecret-1-0 gnome-keyring dbus
    libgl-dev xvfb xauth
    dpkg-dev file desktop-file-utils
)

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
