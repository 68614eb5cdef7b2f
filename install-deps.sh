#!/usr/bin/env bash
# Installs what building and testing need, only what is missing: CMake,
# LLVM's clang and lld for the MinGW-w64 targets, MinGW-w64's headers and
# runtime with GCC's C++ library and windres for x86 and x64 (win32
# threads), 32-bit and 64-bit Wine, Python's PE and compound-file readers,
# the MSI tools, the code-signing tools, the linters, and a Spanish locale
# and a display (Xvfb) for the check's tests. On a machine that cannot run 32-bit programs,
# also what the emulated x86 test guest is built and booted with (qemu,
# debootstrap). Silent when everything is there. 32-bit Wine installs on
# every amd64 machine, even one whose kernel cannot run it; that is how this
# finds out.
#
# A package mirror in the middle of a sync serves some indexes that do not
# match its release file yet. Such an index is no reason to stop: the update
# is tried three times, half a minute apart, and the install goes ahead
# without it; where the install then fails, two lines say which index and
# what to do. apt leaves nothing half-done, and an install that was cut off
# is finished first on the next run: a package counts as installed only when
# dpkg's status says "installed", whether it is selected for install or held
# (a held toolchain is how a reproducible build is kept) and for however
# many architectures; not when it is half-configured, only unpacked, or
# removed with its settings kept.
set -euo pipefail

packages=(cmake make clang-19 lld-19 g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
          wine wine32:i386 wine64 python3 python3-pefile python3-olefile wixl msitools osslsigncode openssl
          clang-format clang-tidy-19 shellcheck python3-pyflakes locales xvfb)
guest_packages=(qemu-system-x86 debootstrap)
suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
unfetched=""  # the indexes the last apt-get update could not fetch
updated=""

# Every output below is read whole before it is judged: a reader that stops
# at its first match (grep -q) would leave a writer with more to say to die
# of SIGPIPE, and pipefail would count that against the answer.
missing_of() {
  local p states
  for p in "$@"; do
    states=$(dpkg-query -W -f='${db:Status-Status}\n' "$p" 2>/dev/null) || true
    grep -qx installed <<<"$states" || echo "$p"
  done
}
has_i386() {
  local foreign
  foreign=$(dpkg --print-foreign-architectures)
  grep -qx i386 <<<"$foreign"
}
needs_root() {
  echo "Missing: $*" >&2
  echo "Installing needs root. Run this script as root, or run:" >&2
  has_i386 ||
    echo "  sudo dpkg --add-architecture i386" >&2
  echo "  sudo apt-get update && sudo apt-get install $*" >&2
  exit 1
}

apt_update() {
  [ -z "$updated" ] || return 0
  updated=1
  local attempt output
  for attempt in 1 2 3; do
    if output=$(apt-get -o Acquire::Retries=3 update -qq 2>&1); then
      unfetched=""
      return 0
    fi
    # "E: Failed to fetch http://MIRROR/debian-security/dists/SUITE/main/binary-i386/Packages.xz ..."
    unfetched=$(sed -n 's|^[EW]: Failed to fetch [^ ]*/dists/\([^ ]*\)/[^/ ]* .*|\1|p' <<<"$output" |
                  sort -u | paste -sd ' ' -)
    unfetched=${unfetched:-"(apt named none)"}
    if [ "$attempt" -lt 3 ]; then
      echo "apt-get update could not fetch the index $unfetched; trying again in 30 s ($attempt of 3, a minute at most)" >&2
      sleep 30
    fi
  done
  echo "apt-get update still cannot fetch the index $unfetched; installing without it" >&2
}

# apt-get install. Where an index is missing, the versions of the other
# architecture may not match it: then the release's own suite, whose indexes
# all came, is tried.
apt_install() {
  local output
  apt_update
  echo "Installing: $*"
  output=$(DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" 2>&1 >/dev/null) && return 0
  if [ -n "$unfetched" ]; then
    echo "Installing them from $suite alone, as the index $unfetched is missing" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t "$suite" "$@" >/dev/null 2>&1 &&
      return 0
    echo "Could not install $*: the index $unfetched did not download; the mirror is probably in the middle of a sync." >&2
    echo "Nothing is left half-done: run $0 again later (./build.sh and ./test.sh run it too)." >&2
  else
    echo "Could not install $*: $(grep '^E:' <<<"$output" | tail -n 1)" >&2
  fi
  return 1
}

# What an earlier install left half-done is finished first; what it cannot
# finish counts as missing below, and is installed again.
if [ "$(id -u)" -eq 0 ] && [ -n "$(dpkg --audit 2>/dev/null)" ]; then
  echo "Finishing an install that was cut off (dpkg --configure -a)"
  # apt's next complaint would not say why; dpkg's last line does.
  if ! output=$(dpkg --configure -a 2>&1); then
    echo "dpkg --configure -a failed: $(tail -n 1 <<<"$output")" >&2
  fi
fi
mapfile -t missing < <(missing_of "${packages[@]}")
if ! has_i386; then
  [ "$(id -u)" -eq 0 ] || needs_root "${missing[@]:-the i386 architecture}"
  echo "Adding the i386 architecture (for 32-bit Wine)"
  dpkg --add-architecture i386
fi
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || needs_root "${missing[@]}"
  apt_install "${missing[@]}" || exit 1
fi

# The check's Spanish is tested in a Spanish session, whose locale must exist.
locales=$(locale -a 2>/dev/null) || true
if ! grep -qix 'es_ES.utf-\?8' <<<"$locales"; then
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
[ "${BRANNOSTEL_NO32:-}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1 && exit 0
mapfile -t missing < <(missing_of "${guest_packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Not installed: ${missing[*]} (needs root), so the x86 behaviour tests will be skipped" >&2
  exit 0
fi
apt_install "${missing[@]}" ||
  echo "Without ${missing[*]}, the x86 behaviour tests will be skipped" >&2
