#!/bin/bash
# Installs what building and testing need on a Debian machine, as root.
# Only what is missing is installed.
set -euo pipefail

packages=(cmake make g++-mingw-w64-i686 googletest wine wine32:i386 wine64 python3
          xvfb xdotool x11-utils imagemagick locales wixl msitools
          clang lld llvm osslsigncode openssl libxml2-utils)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
