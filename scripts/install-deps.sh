#!/usr/bin/env bash
# Installs the Debian 12 packages Snipora needs to build, run and test, when any are missing.
# Safe to run again: it does nothing when everything is present. Uses sudo when not root.
set -euo pipefail

PACKAGES=(
    # toolchain
    build-essential cmake ninja-build pkg-config git
    # Qt 6: Widgets, OpenGLWidgets, DBus, Test (all in qt6-base-dev on Debian 12)
    qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev libegl-dev qt6-qpa-plugins
    # media engine: player, probe, encoder
    libmpv-dev libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
    # event sound, taskbar progress
    libcanberra-dev dbus
    # headless and real-window runs
    xvfb xauth x11-utils libgl1-mesa-dri libglx-mesa0 mesa-utils-bin
    # process tools the fault tests use, /usr/bin/time for the benchmarks
    procps time
    # screenshots, desktop integration checks, fonts that render text in screenshots
    imagemagick desktop-file-utils appstream fonts-dejavu-core
    # hardening: clang with libFuzzer and sanitizer runtimes
    clang libclang-rt-14-dev
    # the layout check of make test (.clang-format), its include-graph and length checks
    clang-format python3
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
