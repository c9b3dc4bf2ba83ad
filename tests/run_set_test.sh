#!/bin/sh
# A machine with GoogleTest but without MPFR and Google Benchmark: the
# project still configures (benchmarks asked for), builds and runs both
# programs; only what needs the missing libraries is left out.
# Usage: run_set_test.sh SOURCE_DIR BUILD_DIR (emptied first)
source=$(cd "$1" && pwd)
build=$2
. "$source/tests/checks.sh"

rm -rf "$build"
launcher=""
if command -v ccache >/dev/null 2>&1; then launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache; fi
if cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNEBLA_BENCH=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_MPFR=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON $launcher \
  >configure.log 2>&1; then pass; else
  fail "configure:"
  cat configure.log
  finish_checks
  exit 1
fi

# The tests are there, only not those against MPFR.
ninja -C "$build" -t commands nebla_tests >commands.txt
if grep -q particles_trig_test.cpp commands.txt; then pass; else fail "the tests are not built"; fi
if grep -qi mpfr commands.txt; then fail "the tests still use MPFR:" && grep -i mpfr commands.txt | head -3; else pass; fi
if ninja -C "$build" -t targets all | grep -q '^nebla_bench:'; then fail "a benchmark program without Google Benchmark"; else pass; fi

if cmake --build "$build" -j "${JOBS:-2}" --target nebla nebla-capture >build.log 2>&1; then pass; else
  fail "building nebla and nebla-capture:"
  tail -20 build.log
fi
for program in "$build/nebla" "$build/tools/nebla-capture"; do
  if "$program" --version | grep -q '^nebla'; then pass; else fail "$program --version"; fi
done
finish_checks
