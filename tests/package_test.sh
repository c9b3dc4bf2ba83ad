#!/bin/sh
# The Debian package: built with CPack from the build directory, it holds
# exactly the expected files, lintian finds no error and no missing
# hardening in it, the licence is there, no address is made up, the icons
# are the icon's pictures, the metadata and the manual pages are well
# formed and agree on the release date, and both programs answer --help and
# --version from an unpacked copy. A configure of its own shows that the
# addresses given are used and that the XScreenSaver link follows the
# install directories.
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

# No address was given to this build: none is in the package.
dpkg-deb -e "$deb" control
if [ -z "$(dpkg-deb -f "$deb" Homepage)" ]; then pass; else fail "a homepage nobody gave"; fi
if dpkg-deb -f "$deb" Maintainer | grep -q '\.invalid>$'; then pass; else
  fail "the maintainer line is not the neutral one: $(dpkg-deb -f "$deb" Maintainer)"
fi
if grep -q '<url\|<screenshot' $metainfo; then fail "addresses in the metadata nobody gave"; else pass; fi
if grep -rIl 'example\.\(org\|com\|net\)\|noreply' root control; then fail "placeholder addresses"; else pass; fi

# One release date: the changelog, the metadata and the manual pages agree.
released=$(sed -n 's/.*<release version="[^"]*" date="\([0-9-]*\)".*/\1/p' $metainfo)
if [ -n "$released" ] && zcat root/usr/share/doc/nebla/changelog.gz | tail -1 |
  grep -q -- "  $(LC_ALL=C date -u -R -d "$released")$"; then pass; else
  fail "the changelog's date is not the metadata's $released"
fi
if zcat root/usr/share/man/man6/nebla.6.gz | grep -q "^\.TH NEBLA 6 $released "; then pass; else
  fail "the manual page's date is not $released"
fi

# Given addresses are used (escaped in XML), and the link to nebla is
# computed from the install directories.
homepage='https://nebla.test/?a=1&b=2'
cmake -S "$source" -B given -G Ninja -DNEBLA_TESTS=OFF -DNEBLA_HOMEPAGE_URL="$homepage" \
  -DNEBLA_SCREENSHOT_URL=https://nebla.test/light.png -DNEBLA_PACKAGE_MAINTAINER="Ada Lovelace <ada@nebla.test>" \
  -DCMAKE_INSTALL_BINDIR=games -DCMAKE_INSTALL_LIBEXECDIR=lib/x86_64-linux-gnu >given.log 2>&1 || cat given.log
given=given/packaging/io.github.nebla.Nebla.metainfo.xml
if grep -q '<url type="homepage">https://nebla.test/?a=1&amp;b=2</url>' $given &&
  grep -q '<image>https://nebla.test/light.png</image>' $given &&
  appstreamcli validate --no-net $given >/dev/null; then pass; else fail "the given addresses in $given"; fi
if grep -q "CPACK_DEBIAN_PACKAGE_HOMEPAGE \"$homepage\"" given/CPackConfig.cmake &&
  grep -q 'CPACK_PACKAGE_CONTACT "Ada Lovelace <ada@nebla.test>"' given/CPackConfig.cmake &&
  grep -q -- '-- Ada Lovelace <ada@nebla.test>  ' given/packaging/changelog; then pass; else
  fail "the package does not carry the given homepage and maintainer"
fi
link=$(readlink given/packaging/xscreensaver/nebla)
if [ "$(realpath -m "/usr/lib/x86_64-linux-gnu/xscreensaver/$link")" = /usr/games/nebla ]; then pass; else
  fail "the XScreenSaver link under lib/x86_64-linux-gnu leads to $link"
fi

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
