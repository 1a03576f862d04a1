#!/usr/bin/env bash
# Cross-builds Tessaro for a Debian ARM architecture (a Raspberry Pi's) on this amd64 machine, runs the
# tests that need no display under QEMU's user emulation, builds the Debian package and checks it with
# lintian, then installs it into an emulated Debian 12 root of that architecture and plays a script
# there on the virtual arm.
# Usage: scripts/cross.sh arm64|armhf [--no-tests] [--no-root]
#   --no-tests  build the programs and the package only
#   --no-root   leave out the emulated root (it needs root and Debian's archive)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case "$arch" in
  arm64 | armhf) shift ;;
  *) echo "usage: scripts/cross.sh arm64|armhf [--no-tests] [--no-root]" >&2; exit 64 ;;
esac
tests=1 root=1
for option in "$@"; do
  case "$option" in
    --no-tests) tests=0 ;;
    --no-root) root=0 ;;
    *) echo "cross.sh: unknown option '$option'" >&2; exit 64 ;;
  esac
done
[ "$(id -u)" -eq 0 ] || root=0
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
# dpkg-shlibdeps, which CPack runs for the package's dependencies, reads the target's libraries.
export DEB_HOST_ARCH=$arch
pass_start=$SECONDS
scripts/cross-deps.sh "$arch"

dir=build-$arch
# Installing must not build everything first: the widget tests are not built here.
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$arch.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTESSARO_BUILD_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
targets=(tessaro tessaro-cli tessaro-guard manpages changelog)
if [ "$tests" -eq 1 ]; then
  # The test programs of every test not labelled "display" (windows, controls, an X server), which are
  # named after their test.
  known=$(cmake --build "$dir" --target help | sed -n 's/^\.\.\. //p')
  for name in $(ctest --test-dir "$dir" -N -LE "display|python" | sed -n 's/^ *Test *#[0-9]*: //p'); do
    grep -qx "$name" <<<"$known" && targets+=("$name")
  done
fi
step=$SECONDS
# Nice, and two jobs at most: the machine is shared.
nice -n 10 cmake --build "$dir" -j"$(( $(nproc) < 2 ? $(nproc) : 2 ))" --target "${targets[@]}"
echo "cross.sh: $arch build took $((SECONDS - step)) s"

if [ "$tests" -eq 1 ]; then
  step=$SECONDS
  # QEMU 7.2 refuses the clone(CLONE_PIDFD) with which Qt starts processes when the kernel has pidfds;
  # this makes Qt believe it has none, for the target's programs only (QEMU sets it in their
  # environment).
  triple=$([ "$arch" = arm64 ] && echo aarch64-linux-gnu || echo arm-linux-gnueabihf)
  "$triple-gcc" -O2 -shared -fPIC -Wall -Wextra -Werror -o "$dir/no_pidfd.so" scripts/no_pidfd.c -ldl
  export QEMU_SET_ENV=LD_PRELOAD=$PWD/$dir/no_pidfd.so
  # Everything not labelled "display" (windows, controls, an X server) or "python" (the host's python3
  # driving the emulated programs, against timing that emulation cannot keep); the package check among
  # them. One at a time: the emulation is slow, and some tests keep time.
  ctest --test-dir "$dir" --output-on-failure -j1 -LE "display|python" --timeout 900
  echo "cross.sh: $arch tests took $((SECONDS - step)) s"
else
  tests/packaging/check_package.sh "$dir"
fi

if [ "$root" -eq 1 ]; then
  step=$SECONDS
  rm -rf "$dir/package"
  cpack -G DEB -B "$dir/package" --config "$dir/CPackConfig.cmake" >/dev/null
  scripts/debian-root.sh "$arch" "$(ls "$dir"/package/*.deb)"
  echo "cross.sh: $arch root check took $((SECONDS - step)) s"
fi
echo "cross.sh: $arch pass took $((SECONDS - pass_start)) s"
