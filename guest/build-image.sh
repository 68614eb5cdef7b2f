#!/usr/bin/env bash
# Builds the x86 test guest into the folder $1: a Debian system of this
# host's release, from the mirror apt already uses, with 32-bit and 64-bit
# Wine, qemu's guest agent (the host's channel into it) and what the tests
# run there; its disk image (disk.img), kernel (vmlinuz) and initrd
# (initrd.img). Needs root (debootstrap, chroot). guest.py calls it and keeps
# the result; nothing here is read at run time but those three files.
set -euo pipefail

out=$1
here=$(cd "$(dirname "$0")" && pwd)
suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
# shellcheck disable=SC2016 # apt's own placeholders, not the shell's
mirror=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' |
           awk -v suite="$suite" '$2 == suite && $3 == "main" { print $1; exit }')
if [ -z "$mirror" ]; then
  echo "build-image.sh: apt has no source for $suite main to build the guest from" >&2
  exit 1
fi
# Wine of both architectures, Python for the rig, wixl, msitools and
# Python's compound-file and PE readers for the upgrade test's other builds,
# the locales for a Spanish session, a display for console windows that
# show; what the init uses.
packages=(linux-image-amd64 kmod iproute2 qemu-guest-agent python3 python3-olefile
          python3-pefile wine wine32:i386 wine64 wixl msitools locales xvfb)

root=$out/root
unmount() {
  for fs in dev sys proc; do
    ! mountpoint -q "$root/$fs" || umount "$root/$fs" || umount -l "$root/$fs" || true
  done
}
# The root tree goes only once nothing is mounted below it any more, and
# the removal never crosses into another filesystem whatever happens.
cleanup() {
  unmount
  if grep -qF " $root/" /proc/self/mounts; then
    echo "build-image.sh: still mounted below $root; left it in place" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT
mkdir -p "$root"

debootstrap --variant=minbase --arch=amd64 "$suite" "$root" "$mirror" >"$out/debootstrap.log"
# apt in the guest fetches as apt here does: the same checks and proxies.
apt-config dump | grep -E '^Acquire::(Check-Valid-Until|Check-Date|https?::Proxy) ' \
  >"$root/etc/apt/apt.conf.d/00as-on-host" || true
for fs in proc sys dev; do mount --bind "/$fs" "$root/$fs"; done
chroot "$root" dpkg --add-architecture i386
chroot "$root" apt-get update -qq
# The i386 packages' install scripts cannot run in this chroot where the host
# cannot run 32-bit programs ("Exec format error"); what they would update is
# of no use to the tests.
DEBIAN_FRONTEND=noninteractive chroot "$root" \
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >"$out/apt.log" 2>&1 || {
    tail -n 20 "$out/apt.log" >&2
    exit 1
  }
chroot "$root" apt-get clean
chroot "$root" localedef -i es_ES -f UTF-8 es_ES.UTF-8
unmount

install -m 755 "$here/init" "$root/sbin/brannostel-init"
echo brannostel-guest >"$root/etc/hostname"
kernels=("$root"/boot/vmlinuz-*) initrds=("$root"/boot/initrd.img-*)
cp "${kernels[-1]}" "$out/vmlinuz"
cp "${initrds[-1]}" "$out/initrd.img"
# Room beside the system for the Wine prefixes the tests make; the file is
# sparse, so only what is used takes disk here.
mke2fs -q -t ext4 -d "$root" -L brannostel "$out/disk.img" 8G >/dev/null
