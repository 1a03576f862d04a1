#!/usr/bin/env bash
# Installs a Debian package built here into an emulated Debian 12 root of its architecture, and plays a
# script on the virtual arm there with the installed tessaro-cli, as the owner of an arm64 or armhf
# board (a Raspberry Pi) would after `apt install ./tessaro_*.deb`.
# Usage: scripts/debian-root.sh arm64|armhf PACKAGE.deb
# The root (debootstrap's minimal one, with the package's dependencies once they have been installed)
# is kept in ~/.cache/tessaro-cross (or $TESSARO_CROSS_CACHE) and made again only when missing; the
# package itself is installed afresh each time. Root only; the packages come from Debian's archive.
set -euo pipefail
arch=$1
deb=$(realpath "$2")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=${TESSARO_CROSS_CACHE:-$HOME/.cache/tessaro-cross}
root=$cache/bookworm-$arch
start=$SECONDS
[ "$(id -u)" -eq 0 ] || { echo "debian-root.sh: run as root (debootstrap and chroot)" >&2; exit 1; }

if [ ! -x "$root/usr/bin/apt-get" ]; then
  echo "Making a Debian 12 $arch root in $root (once; kept for the next run)"
  rm -rf "$root.new"
  mkdir -p "$cache"
  # Under QEMU's user emulation debootstrap runs the root's own programs for its second stage.
  debootstrap --arch="$arch" --variant=minbase bookworm "$root.new" "$mirror" >"$cache/debootstrap-$arch.log" 2>&1 ||
    { tail -n 20 "$cache/debootstrap-$arch.log"; exit 1; }
  mv "$root.new" "$root"
  echo "  root made in $((SECONDS - start)) s"
fi

mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
for fs in proc dev; do
  if ! mountpoint -q "$root/$fs"; then
    if [ "$fs" = proc ]; then mount -t proc proc "$root/proc"; else mount --bind /dev "$root/dev"; fi
    mounted+=("$root/$fs")
  fi
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

work=/tmp/tessaro-check
rm -rf "${root:?}$work"
mkdir -p "$root$work"
cp "$deb" "$root$work/"
step=$SECONDS
in_root apt-get -o DPkg::Lock::Timeout=600 update -qq
# apt resolves the package's dependencies from the archive, as for a Pi owner.
DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -qq --no-install-recommends "$work/$(basename "$deb")" \
  >"$cache/install-$arch.log" 2>&1 || { tail -n 20 "$cache/install-$arch.log"; exit 1; }
echo "  package and its dependencies installed in $((SECONDS - step)) s"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ "$(in_root dpkg-query -W -f='${Architecture}' tessaro)" = "$arch" ] || fail "tessaro is not installed as $arch"
for file in /usr/bin/tessaro /usr/bin/tessaro-cli /usr/bin/tessaro-guard /usr/lib/udev/rules.d/70-tessaro.rules \
            /usr/share/man/man1/tessaro-cli.1.gz /usr/lib/python3/dist-packages/tessaro/arm.py; do
  in_root test -e "$file" || fail "the installed package has no $file"
done
in_root tessaro-cli --version | grep -q '^tessaro-cli ' || fail "tessaro-cli --version"

# A script played on the virtual arm by an ordinary user, its reports logged.
printf '" 2"\r\n"Step","Function","Time"\r\n" 1","ElbowUp"," .2"\r\n" 2","Pause"," .1"\r\n' \
  >"$root$work/demo.SRP"
in_root useradd -M -d "$work" pi 2>/dev/null || true
chown -R 0:0 "$root$work" && chmod 0777 "$root$work"
out=$(in_root su -s /bin/sh pi -c "cd $work && tessaro-cli run demo.SRP --reps 2 --virtual-arm --virtual-arm-log $work/arm.log" 2>&1) ||
  fail "tessaro-cli run exited with status $?: $out"
grep -q '^Run finished: 2 repetitions' <<<"$out" || fail "no 'Run finished' line: $out"
codes=$(awk '{print $2}' "$root$work/arm.log" 2>/dev/null | tr '\n' ' ')
[ "$codes" = "3 0 3 0 0 " ] || fail "the virtual arm logged codes '$codes', not '3 0 3 0 0 '"
echo "$out" | sed 's/^/  /'

[ "$failures" -eq 0 ] && echo "the $arch package installs and plays a script in a Debian 12 $arch root ($((SECONDS - start)) s)"
exit "$failures"
