#!/bin/sh
# A machine with GoogleTest but without MPFR and Google Benchmark, and a
# build without the monitor libraries (libXrandr, libXinerama): the project
# still configures (benchmarks asked for), builds and runs both programs;
# only what needs the missing libraries is left out. And one without Python
# still configures.
# Usage: run_set_test.sh SOURCE_DIR BUILD_DIR (emptied first)
source=$(cd "$1" && pwd)
build=$2
. "$source/tests/checks.sh"

rm -rf "$build"
launcher=""
if command -v ccache >/dev/null 2>&1; then launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache; fi
if cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNEBLA_BENCH=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_MPFR=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  -DNEBLA_X11_MONITORS=OFF $launcher \
  >configure.log 2>&1; then pass; else
  fail "configure:"
  cat configure.log
  finish_checks
  exit 1
fi

# The tests are there, only not those against MPFR.
ninja -C "$build" -t commands nebla_tests >commands.txt
if grep -q particles_trig_test.cpp commands.txt; then pass; else fail "the tests are not built"; fi
if grep -q 'libmpfr\|-lmpfr\|_mpfr_test' commands.txt; then fail "the tests still use MPFR"; else pass; fi
if ninja -C "$build" -t targets all | grep -q '^nebla_bench:'; then fail "a benchmark program without Google Benchmark"; else pass; fi

ninja -C "$build" -t commands nebla >commands.txt
if grep -qi 'xrandr\|xinerama' commands.txt; then fail "nebla still uses libXrandr or libXinerama"; else pass; fi

if cmake --build "$build" -j "${JOBS:-2}" --target nebla nebla-capture >build.log 2>&1; then pass; else
  fail "building nebla and nebla-capture:"
  tail -20 build.log
fi
for program in "$build/nebla" "$build/tools/nebla-capture"; do
  if "$program" --version | grep -q '^nebla'; then pass; else fail "$program --version"; fi
done

# Nor does a missing Python stop the configure; the tests, which it drives,
# are left out then.
if cmake -S "$source" -B "$build-python" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON >configure.log 2>&1; then pass; else
  fail "configure without Python:"
  cat configure.log
fi
rm -rf "$build-python"
finish_checks
