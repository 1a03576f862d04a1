#!/usr/bin/env bash
# The system pass (./test --system): boots a small virtual machine under QEMU's software emulation and
# runs the programs of this build inside it against kernel HID devices made through /dev/uhid.
#
# The guest runs this machine's own files: / is shared read-only over virtio-9p and a tmpfs overlay
# makes it writable; a second read-only share lays Debian's kernel modules, udev and kmod over it. Those
# packages are downloaded once (apt-get download) into a cache outside the repository:
# ${XDG_CACHE_HOME:-~/.cache}/tessaro-system. tests/system/guest.sh is the guest's PID 1; it prints a
# line as each case ends and then the table of results, and leaves the number of failed cases in the
# output share, or the reason why the pass could not go on. The tree and the build may be anywhere the
# host's root holds them, /tmp included: the guest sees the host's root as it is.
#
# Usage: tests/system/pass.sh [CASE ...]   (./test --system [CASE ...]); no CASE runs them all.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/tessaro-system"
started=$SECONDS

# xvfb, xauth and xdotool run inside the guest, from this machine's files.
"$root/scripts/deps.sh" qemu-system-x86 xvfb xauth xdotool
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what runs in the guest: the unit tests are ./test's business.
cmake --build "$build" -j"$(nproc)" --target tessaro tessaro-cli tessaro-guard tessaro-uhid-player tessaro-usb-gadget bench_window bench_guard

kernel_version() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: linux-image-\([0-9].*-amd64\)$/\1/p' | head -n 1
}

kver="$(kernel_version)"
if [ -z "$kver" ] && [ "$(id -u)" -eq 0 ]; then
  apt-get update -qq
  kver="$(kernel_version)"
fi
[ -n "$kver" ] || { echo "system pass: apt knows no linux-image-amd64 (run apt-get update)" >&2; exit 1; }

guest="$cache/$kver"
if [ ! -e "$guest/ready" ]; then
  echo "system pass: preparing the guest (kernel $kver) in $guest"
  rm -rf "$guest"
  mkdir -p "$guest/debs" "$guest/root" "$guest/initrd/bin"
  # libsystemd-shared and libkmod2 come along so that udev and kmod match their libraries.
  (cd "$guest/debs" &&
    apt-get download -q "linux-image-$kver" udev libsystemd-shared kmod libkmod2 busybox-static 2>&1 |
    grep -v '^W: Download is performed unsandboxed' || true)
  for deb in "$guest"/debs/*.deb; do
    dpkg-deb -x "$deb" "$guest/root"
  done
  # kmod acts by the name it is called by; its links in the package are absolute.
  (export LD_LIBRARY_PATH="$guest/root/usr/lib/x86_64-linux-gnu"
   exec -a depmod "$guest/root/bin/kmod" -b "$guest/root" "$kver")

  # The uncompressed kernel boots in half the time: it is the xz stream inside vmlinuz.
  vmlinuz="$guest/root/boot/vmlinuz-$kver"
  offset="$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)"
  [ -n "$offset" ] || { echo "system pass: no xz stream in $vmlinuz" >&2; exit 1; }
  tail -c +"$((offset + 1))" "$vmlinuz" | xz -dc >"$guest/vmlinux" 2>/dev/null || true
  [ "$(head -c 4 "$guest/vmlinux" | od -An -c | tr -d ' ')" = '177ELF' ] ||
    { echo "system pass: could not unpack $vmlinuz" >&2; exit 1; }

  # A tiny initramfs: busybox, the modules that reach the shares, and the init script.
  initrd="$guest/initrd"
  cp "$guest/root/bin/busybox" "$initrd/bin/busybox"
  mods="lib/modules/$kver"
  mkdir -p "$initrd/$mods"
  for m in virtio_pci 9pnet_virtio 9p overlay; do
    grep -E "/$m\.ko(\.[a-z]+)?:" "$guest/root/$mods/modules.dep"
  done | tr -d ':' | tr ' ' '\n' | sort -u | while read -r ko; do
    [ -n "$ko" ] || continue
    mkdir -p "$initrd/$mods/$(dirname "$ko")"
    cp "$guest/root/$mods/$ko" "$initrd/$mods/$ko"
  done
  grep -E "/(virtio_pci|9pnet_virtio|9p|overlay)\.ko" "$guest/root/$mods/modules.dep" >"$initrd/$mods/modules.dep"

  # Debian 12 merges /bin, /sbin and /lib into /usr: the host's root has links there, which a
  # directory in this layer would hide, so the packages' files move under usr/.
  for d in bin sbin lib lib64; do
    if [ -d "$guest/root/$d" ] && [ ! -L "$guest/root/$d" ]; then
      mkdir -p "$guest/root/usr/$d"
      cp -a "$guest/root/$d/." "$guest/root/usr/$d/"
      rm -rf "${guest:?}/root/$d"
    fi
  done
  touch "$guest/ready"
fi

# The init script is small and changes with the tree: it is packed anew each time, in a folder of this
# pass's own, as another pass (of another tree) may be packing its own from the same cache.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -a "$guest/initrd" "$work/initrd"
cp "$root/tests/system/guest-init" "$work/initrd/init"
chmod +x "$work/initrd/init"
(cd "$work/initrd" && find . | "$guest/root/usr/bin/busybox" cpio -o -H newc 2>/dev/null) | gzip -1 >"$work/initrd.img"

out="$work/out"
mkdir "$out"
# Where the guest finds the tree and the build, and which cases it runs; see guest-init.
printf '%s\n' "$root" "$build" "$(IFS=,; echo "$*")" >"$out/where"
echo "system pass: booting the guest (QEMU TCG, 1 vCPU, 1 GiB)"
# Software emulation on purpose: the KVM here is nested and cannot run a stock kernel. The console goes
# through line by line (sed -u), so that each case shows as it ends.
timeout 1800 qemu-system-x86_64 \
  -accel tcg -cpu max -smp 1 -m 1024 \
  -nodefaults -no-user-config -display none -no-reboot -serial stdio -monitor none \
  -kernel "$guest/vmlinux" -initrd "$work/initrd.img" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1" \
  -virtfs "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap" \
  -virtfs "local,path=$guest/root,mount_tag=extra,security_model=none,readonly=on,multidevs=remap" \
  -virtfs "local,path=$out,mount_tag=out,security_model=none,multidevs=remap" \
  </dev/null | sed -u 's/\r$//' | tee "$build/system-pass.log" || true

echo "system pass: wall time $((SECONDS - started)) s"
if [ -s "$out/stopped" ]; then
  echo "system pass: stopped: $(cat "$out/stopped")" >&2
  exit 1
fi
if [ ! -s "$out/failed" ]; then
  echo "system pass: the guest ended without a result" >&2
  exit 1
fi
failed="$(cat "$out/failed")"
[ "$failed" = 0 ] || { echo "system pass: $failed case(s) failed" >&2; exit 1; }
