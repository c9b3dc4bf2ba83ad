#!/bin/sh
# scripts/install-deps asks for what each purpose needs and no more: on a
# machine where nothing is installed (a stand-in dpkg-query) and as an
# ordinary user (a stand-in id), it names the packages it would install.
# Usage: install_deps_test.sh SOURCE_DIR
source=$(cd "$1" && pwd)
. "$source/tests/checks.sh"

mkdir bin
printf '#!/bin/sh\nexit 1\n' >bin/dpkg-query
printf '#!/bin/sh\necho 1000\n' >bin/id
chmod +x bin/dpkg-query bin/id
wanted() { PATH="$dir/bin:$PATH" sh "$source/scripts/install-deps" "$1" 2>&1 | sed -n 's/^ *apt-get install -y --no-install-recommends//p'; }
has() { case " $1 " in *" $2 "*) return 0 ;; esac; return 1; }

package=$(wanted package)
for p in libsdl2-dev dpkg-dev file; do
  if has "$package" $p; then pass; else fail "install-deps package lacks $p: $package"; fi
done
for p in chromium emscripten wine64 libgtest-dev lintian; do
  if has "$package" $p; then fail "install-deps package asks for $p"; else pass; fi
done
bench=$(wanted bench)
if has "$bench" libbenchmark-dev && ! has "$bench" chromium; then pass; else fail "install-deps bench: $bench"; fi
run=$(wanted run)
if has "$run" ffmpeg && has "$run" libwayland-dev && ! has "$run" dpkg-dev && ! has "$run" sway; then pass; else fail "install-deps run: $run"; fi
all=$(wanted test)
for p in dpkg-dev file libbenchmark-dev libmpfr-dev chromium lintian sway grim; do
  if has "$all" $p; then pass; else fail "install-deps test lacks $p"; fi
done
finish_checks
