#!/usr/bin/env bash
# Installs from Debian what a fresh Debian 12 machine lacks for building and testing Quorlen, and nothing when all
# is there.
set -euo pipefail

packages=(
  cmake g++ make python3 googletest libgtest-dev bsdextrautils  # bsdextrautils: column, for reliability.sh
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine wine64 wine32:i386
  qt6-base-dev fonts-dejavu-core
  xvfb xauth xdotool x11-utils imagemagick  # the end-to-end tests' display, clicks, keys and screenshots
  python3-pyatspi at-spi2-core dbus-daemon  # the Linux window as a screen reader reads it, over AT-SPI
  liblo-tools liblo-dev  # the console simulator's decoder
  nlohmann-json3-dev  # the JSON the simulator and the window probe write
  python3-psutil python3-matplotlib python3-pil  # the bench, the plots and the icon
  clang-14 libclang-rt-14-dev  # the sanitizer and libFuzzer runtimes
  dpkg-dev lintian desktop-file-utils appstream  # the Debian package's build and checks
)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
sudo=$([ "$(id -u)" -eq 0 ] || echo sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# 32-bit Wine on machines that can't execute 32-bit code natively.
$sudo "$(dirname "$0")/wine32-setup.sh"
