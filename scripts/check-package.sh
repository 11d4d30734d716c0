#!/usr/bin/env bash
# Checks a built package without installing it: unpacks it into a scratch directory, checks its
# files and Depends, runs the unpacked command line, and validates the desktop entry and metadata.
# Usage: scripts/check-package.sh build/zorvjtag_VERSION_ARCH.deb
set -euo pipefail
deb=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

app=org.zorvjtag.zorvjtag
expected=(
  usr/bin/zorvjtag
  usr/bin/zorvjtag-gui
  usr/share/man/man1/zorvjtag.1.gz
  usr/share/man/man1/zorvjtag-gui.1.gz
  usr/share/applications/$app.desktop
  usr/share/metainfo/$app.metainfo.xml
  usr/lib/udev/rules.d/70-zorvjtag.rules
  usr/share/doc/zorvjtag/copyright
  usr/share/doc/zorvjtag/changelog.gz
  usr/share/zorvjtag/boards/obrin.toml
  usr/share/zorvjtag/boards/tqr2400.toml
  usr/share/zorvjtag/boards/ika.toml
  usr/share/zorvjtag/boards/veskar.toml
)
for size in 16 22 24 32 48 64 128 256; do expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$app.png"); done
for file in "${expected[@]}"; do
  [ -s "$root/$file" ] || { echo "package lacks $file"; exit 1; }
done

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6widgets6 libftdi1-2 libusb-1.0-0 libhidapi-libusb0; do
  [[ "$depends" == *"$library"* ]] || { echo "Depends lacks $library: $depends"; exit 1; }
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "fonts-nanum | fonts-noto-cjk" ] || { echo "Recommends lacks a Korean font"; exit 1; }
[ "$(dpkg-deb -f "$deb" Section)" = electronics ] || { echo "section is not electronics"; exit 1; }

version=$(dpkg-deb -f "$deb" Version)
# Debian policy: the copyright file in its machine-readable format, and the changelog of this very
# version, compressed without a name or time stamp in it.
doc="$root/usr/share/doc/zorvjtag"
[ "$(head -n 1 "$doc/copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
  { echo "copyright is not in the machine-readable format"; exit 1; }
grep -q "^License: BSD-3-clause" "$doc/copyright" || { echo "copyright lacks the notice of CLI11, built in"; exit 1; }
grep -q "^License: Expat" "$doc/copyright" || { echo "copyright lacks the notice of toml++, built in"; exit 1; }
gzip -dc "$doc/changelog.gz" > "$root/changelog"
[ "$(dpkg-parsechangelog -l "$root/changelog" -S Version)" = "$version" ] ||
  { echo "the changelog's latest entry is not version $version"; exit 1; }
[ "$(gzip -9nc < "$root/changelog" | cmp - "$doc/changelog.gz" && echo same)" = same ] ||
  { echo "changelog.gz is not compressed with gzip -9n"; exit 1; }
[ "$("$root/usr/bin/zorvjtag" --version)" = "zorvjtag $version" ] || { echo "zorvjtag --version is not $version"; exit 1; }
[ "$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/zorvjtag-gui" --version 2>/dev/null)" = "zorvjtag-gui $version" ] ||
  { echo "zorvjtag-gui --version is not $version"; exit 1; }
idcode=$("$root/usr/bin/zorvjtag" --cable sim idcode --product OBRIN)
[[ "$idcode" == *"JTAG ID: Ver(0x0), Part(0x00AE), Maker(0xCAD)"* ]] || { echo "idcode printed: $idcode"; exit 1; }

desktop-file-validate "$root/usr/share/applications/$app.desktop"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$app.metainfo.xml" > /dev/null
echo "package ok: $(basename "$deb"), Depends: $depends"
