#!/usr/bin/env bash
# Installs what building and testing zorvjtag needs on Debian 12 (run as root), or, given package
# names, only those.
set -euo pipefail
packages=("$@")
[ ${#packages[@]} -gt 0 ] || packages=(cmake ninja-build g++ libgtest-dev libgmock-dev googletest libbenchmark-dev libcli11-dev libtomlplusplus-dev
          qt6-base-dev qt6-base-dev-tools libgl-dev fonts-nanum xvfb xauth libxcb1-dev pkg-config openocd
          scdoc dpkg-dev file desktop-file-utils appstream openfpgaloader libftdi1-dev libusb-1.0-0-dev libhidapi-dev
          umockdev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
