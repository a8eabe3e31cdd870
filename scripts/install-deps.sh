#!/usr/bin/env bash
# Installs the cross compiler, Wine (32-bit), Xvfb, the GoogleTest sources,
# NSIS (makensis builds the setup program), wixl and msitools (the MSI
# package), osslsigncode and openssl (signing, and the tests' throw-away
# certificates), a Hangul font for the settings window's texts and python3,
# which checks the Group Policy templates.
# Quick and silent when everything is already present.
set -euo pipefail

packages=(cmake make g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          mingw-w64-i686-dev binutils-mingw-w64-i686
          wine wine32:i386 wine64 xvfb xauth googletest imagemagick nsis fonts-nanum
          wixl msitools osslsigncode openssl python3)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
