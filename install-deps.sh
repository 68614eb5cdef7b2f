#!/usr/bin/env bash
# Installs what building and testing need, only what is missing: CMake, the
# MinGW-w64 cross toolchains for x86 and x64 (win32 threads), 32-bit and
# 64-bit Wine, Python's PE reader, the MSI tools, the code-signing tools and
# the linters.
# Silent when everything is there. 32-bit Wine installs on every amd64
# machine, even one whose kernel cannot run it; the tests find that out.
set -euo pipefail

packages=(cmake make g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
          wine wine32:i386 wine64 python3 python3-pefile wixl msitools osslsigncode openssl
          clang-format clang-tidy)

has_i386=yes
dpkg --print-foreign-architectures | grep -qx i386 || has_i386=no
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ "$has_i386" = yes ] && [ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing: ${missing[*]:-nothing but the i386 architecture}" >&2
  echo "Installing needs root. Run this script as root, or run:" >&2
  [ "$has_i386" = no ] && echo "  sudo dpkg --add-architecture i386" >&2
  echo "  sudo apt-get update && sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

if [ "$has_i386" = no ]; then
  echo "Adding the i386 architecture (for 32-bit Wine)"
  dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
