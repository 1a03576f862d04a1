#!/usr/bin/env bash
# What a cross build for a Debian ARM architecture needs on this (amd64) machine: the cross compiler,
# the target's development packages beside the host's (multiarch), QEMU's user emulation with the
# kernel's binfmt entries that let the target's programs run here, and the packaging and root tools.
# Usage: scripts/cross-deps.sh arm64|armhf
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1
case "$arch" in
  arm64) qemu=aarch64 ;;
  armhf) qemu=arm ;;
  *) echo "cross-deps.sh: unknown architecture '$arch' (arm64 or armhf)" >&2; exit 64 ;;
esac

if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "The $arch packages are not known to dpkg. Run:"
    echo "  sudo dpkg --add-architecture $arch && sudo apt-get update"
    exit 1
  fi
  dpkg --add-architecture "$arch"
  apt-get -o DPkg::Lock::Timeout=600 update -qq
fi
scripts/deps.sh lintian appstream desktop-file-utils shared-mime-info debootstrap \
  qemu-user-static binfmt-support "crossbuild-essential-$arch" \
  "qt6-base-dev:$arch" "qt6-svg-dev:$arch" "libgl-dev:$arch" \
  "libhidapi-dev:$arch" "libudev-dev:$arch" "libusb-1.0-0-dev:$arch"

# The kernel hands the target's programs to QEMU: the tests start tessaro-cli, which starts
# tessaro-guard, each an ARM program. Machines without systemd may not have the entries mounted.
entry=/proc/sys/fs/binfmt_misc/qemu-$qemu
if ! grep -qx enabled "$entry" 2>/dev/null; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "The kernel does not run $arch programs through QEMU. Run:"
    echo "  sudo update-binfmts --enable qemu-$qemu"
    exit 1
  fi
  [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  update-binfmts --enable "qemu-$qemu" 2>/dev/null || update-binfmts --import "qemu-$qemu"
  grep -qx enabled "$entry" || { echo "cross-deps.sh: binfmt entry qemu-$qemu could not be enabled" >&2; exit 1; }
fi
