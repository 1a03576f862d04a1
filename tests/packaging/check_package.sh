#!/usr/bin/env bash
# The installed tree and the Debian package, checked as a packager and a file manager would see them.
# Usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
usr="$work/root/usr"
for file in bin/tessaro bin/tessaro-cli bin/tessaro-guard share/applications/tessaro.desktop \
            share/mime/packages/tessaro.xml share/metainfo/org.tessaro.Tessaro.metainfo.xml \
            share/man/man1/tessaro.1.gz share/man/man1/tessaro-cli.1.gz share/man/man1/tessaro-guard.1.gz \
            share/doc/tessaro/copyright share/doc/tessaro/changelog.gz lib/udev/rules.d/70-tessaro.rules \
            lib/python3/dist-packages/tessaro/__init__.py lib/python3/dist-packages/tessaro/usb_arm.py; do
  [ -f "$usr/$file" ] || fail "the installed tree has no $file"
done

# Every option the programs' help names is in their manual page.
for program in tessaro tessaro-cli tessaro-guard; do
  page=$(zcat "$usr/share/man/man1/$program.1.gz" | sed 's/\\-/-/g')
  for option in $("$usr/bin/$program" --help | grep -o -- '--[a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$page" || fail "$program.1 does not mention $option"
  done
done

# The installed Python package imports from the installed tree alone, and finds tessaro-cli on PATH.
env -u TESSARO_CLI PATH="$usr/bin:$PATH" python3 -I -B -c \
  'import sys; sys.path.insert(0, sys.argv[1]); import tessaro._service as s, tessaro.usb_arm; print(s.find_cli())' \
  "$usr/lib/python3/dist-packages" | grep -qx "$usr/bin/tessaro-cli" || fail "the installed Python package does not find its tessaro-cli"

# A file manager finds the type by name, and the menu entry opens it.
mkdir -p "$work/mime/packages"
cp "$usr/share/mime/packages/tessaro.xml" "$work/mime/packages/"
update-mime-database "$work/mime" >/dev/null 2>&1
for name in '*.SRP' '*.srp'; do
  grep -qF "application/x-tessaro-script:$name" "$work/mime/globs2" || fail "no MIME glob $name"
done
grep -qx 'MimeType=application/x-tessaro-script;' "$usr/share/applications/tessaro.desktop" ||
  fail "the desktop entry does not open scripts"
desktop-file-validate "$usr/share/applications/tessaro.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$usr/share/metainfo/org.tessaro.Tessaro.metainfo.xml" || fail "appstreamcli validate"

cpack -G DEB -B "$work/deb" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(ls "$work"/deb/*.deb)
dpkg-deb -c "$deb" | grep -q './usr/share/mime/packages/tessaro.xml' || fail "the package has no MIME file"
# The package names its maintainers as the change log signs for them.
maintainer=$(dpkg-deb -f "$deb" Maintainer)
signed=$(zcat "$usr/share/doc/tessaro/changelog.gz" | sed -n 's/^ -- \(.*>\)  .*/\1/p' | head -n 1)
[ -n "$maintainer" ] && [ "$maintainer" = "$signed" ] ||
  fail "the package's maintainer '$maintainer' is not the change log's '$signed'"
echo "lintian $(basename "$deb"):"
lintian --fail-on error --display-level '>=warning' "$deb" || fail "lintian reports errors"

[ "$failures" -eq 0 ] && echo "package checks passed"
exit "$failures"
