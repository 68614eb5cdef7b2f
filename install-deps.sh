#!/usr/bin/env bash
# Installs what building and testing need, only what is missing: CMake, the
# MinGW-w64 cross toolchains for x86 and x64 (win32 threads), 32-bit and
# 64-bit Wine, Python's PE and compound-file readers, the MSI tools, the
# code-signing tools, the linters, and a Spanish locale and a display
# (Xvfb) for the check's tests. On a machine that cannot run 32-bit programs, also what the emulated
# x86 test guest is built and booted with (qemu, debootstrap).
# Silent when everything is there. 32-bit Wine installs on every amd64
# machine, even one whose kernel cannot run it; that is how this finds out.
set -euo pipefail

packages=(cmake make g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
          wine wine32:i386 wine64 python3 python3-pefile python3-olefile wixl msitools osslsigncode openssl
          clang-format clang-tidy shellcheck python3-pyflakes locales xvfb)
guest_packages=(qemu-system-x86 debootstrap)

missing_of() {
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done
}
needs_root() {
  echo "Missing: $*" >&2
  echo "Installing needs root. Run this script as root, or run:" >&2
  dpkg --print-foreign-architectures | grep -qx i386 ||
    echo "  sudo dpkg --add-architecture i386" >&2
  echo "  sudo apt-get update && sudo apt-get install $*" >&2
  exit 1
}

mapfile -t missing < <(missing_of "${packages[@]}")
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  [ "$(id -u)" -eq 0 ] || needs_root "${missing[@]:-the i386 architecture}"
  echo "Adding the i386 architecture (for 32-bit Wine)"
  dpkg --add-architecture i386
fi
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || needs_root "${missing[@]}"
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The check's Spanish is tested in a Spanish session, whose locale must exist.
if ! locale -a 2>/dev/null | grep -qix 'es_ES.utf-\?8'; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing: the es_ES.UTF-8 locale. Run this script as root, or run:" >&2
    echo "  sudo localedef -i es_ES -f UTF-8 es_ES.UTF-8" >&2
    exit 1
  fi
  echo "Generating the es_ES.UTF-8 locale"
  localedef -i es_ES -f UTF-8 es_ES.UTF-8
fi

# The x86 tests' guest, only where 32-bit programs cannot run here. Without
# it they are skipped, and the tests say so: not a reason to stop.
/usr/lib/wine/wine --version >/dev/null 2>&1 && exit 0
mapfile -t missing < <(missing_of "${guest_packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Not installed: ${missing[*]} (needs root), so the x86 behaviour tests will be skipped" >&2
  exit 0
fi
echo "Installing, for the x86 test guest: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null ||
  echo "Could not install ${missing[*]}, so the x86 behaviour tests will be skipped" >&2
