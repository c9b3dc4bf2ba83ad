#!/bin/sh
# The Debian package: built with CPack from the build directory, it holds
# exactly the expected files, lintian finds no error in it, the icons are
# the icon's pictures, the metadata and the manual pages are well formed,
# and both programs answer --help and --version from an unpacked copy.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR VERSION
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
. "$source/tests/checks.sh"

deb="$build/package/nebla_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
if (cd "$build" && cpack >cpack.log 2>&1) && [ -f "$deb" ]; then pass; else
  fail "cpack made no $deb:"
  cat "$build/cpack.log"
  finish_checks
  exit 1
fi
echo "package: $deb, $(stat -c %s "$deb") bytes"
echo "depends: $(dpkg-deb -f "$deb" Depends)"

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >files
cat >expected <<'LIST'
./usr/bin/nebla
./usr/bin/nebla-capture
./usr/libexec/xscreensaver/nebla
./usr/share/applications/nebla.desktop
./usr/share/doc/nebla/changelog.gz
./usr/share/doc/nebla/copyright
./usr/share/icons/hicolor/16x16/apps/nebla.png
./usr/share/icons/hicolor/32x32/apps/nebla.png
./usr/share/icons/hicolor/48x48/apps/nebla.png
./usr/share/icons/hicolor/64x64/apps/nebla.png
./usr/share/man/man1/nebla-capture.1.gz
./usr/share/man/man6/nebla.6.gz
./usr/share/metainfo/io.github.nebla.Nebla.metainfo.xml
./usr/share/xscreensaver/config/nebla.xml
LIST
if diff -u expected files; then pass; else fail "the package holds other files"; fi
case "$(dpkg-deb -f "$deb" Depends)" in
  *libsdl2*libx11*) pass ;;
  *) fail "the computed dependencies lack SDL2 or libX11" ;;
esac

lintian --display-info "$deb" >lintian.txt 2>&1
cat lintian.txt
if grep -q '^E:' lintian.txt; then fail "lintian reports errors"; else pass; fi
if grep -q 'hardening-' lintian.txt; then fail "lintian finds hardening missing"; else pass; fi

dpkg-deb -x "$deb" root
if [ "$(readlink -f root/usr/libexec/xscreensaver/nebla)" = "$(pwd)/root/usr/bin/nebla" ]; then pass; else
  fail "the XScreenSaver program does not lead to nebla"
fi
for program in nebla nebla-capture; do
  if [ "$(root/usr/bin/$program --version)" = "$program $version" ]; then pass; else
    fail "$program --version: $(root/usr/bin/$program --version 2>&1)"
  fi
  if root/usr/bin/$program --help | grep -q "^usage: $program"; then pass; else fail "$program --help"; fi
done

# The licence: machine-readable, and its text the text of LICENSE.
copyright=root/usr/share/doc/nebla/copyright
if head -1 $copyright | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' &&
  grep -q '^License: Expat$' $copyright; then pass; else fail "$copyright is not the Expat licence in DEP-5"; fi
awk 'on { sub(/^ /, ""); sub(/^\.$/, ""); print } prev == "" && $0 == "License: Expat" { on = 1 } { prev = $0 }' \
  $copyright >licence
if awk 'NR > 4' "$source/LICENSE" | diff -u - licence; then pass; else fail "$copyright and LICENSE differ"; fi
metainfo=root/usr/share/metainfo/io.github.nebla.Nebla.metainfo.xml
if grep -q '<project_license>MIT</project_license>' $metainfo; then pass; else fail "no project_license"; fi

if python3 "$source/resources/hicolor.py" --check; then pass; else fail "icons"; fi
if appstreamcli validate --no-net $metainfo; then pass
else fail "appstreamcli refuses the metadata"; fi
if xmllint --noout root/usr/share/xscreensaver/config/nebla.xml; then pass; else fail "nebla.xml"; fi
for page in root/usr/share/man/man6/nebla.6.gz root/usr/share/man/man1/nebla-capture.1.gz; do
  MANWIDTH=80 man --warnings -l "$page" >/dev/null 2>warnings
  if [ ! -s warnings ] && zgrep -q "$version" "$page"; then pass; else
    fail "$page: $(cat warnings)"
  fi
done
finish_checks
