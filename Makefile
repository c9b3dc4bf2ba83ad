# Front door: `make run` runs the demo, `make test` runs every test,
# `make package` builds the Debian package,
# `make check` is the quick loop (release build, unit tests only),
# `make bench` runs the benchmarks (`make bench-hardening`: without and
# with the hardening flags, in turns), `make web` builds the page and
# `make serve` serves it on localhost; `make windows` cross-compiles the
# Windows programs and their zip.
PORT ?= 8080
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE := build/release
ASAN := build/asan
BENCH := build/bench
# The benchmarks without the hardening flags, to weigh what they cost.
BENCH_PLAIN := build/bench-plain
BENCH_ROUNDS ?= 3
WEB := build/web
WEB_THREADS := build/web-threads
# The page, ready for any static host: both builds write into it.
SITE := $(WEB)/site
FUZZ := build/fuzz
WINDOWS := build/windows
# Seconds each fuzzer runs: briefly in `make test`, longer in `make fuzz`.
FUZZ_TEST_SECONDS ?= 15
FUZZ_SECONDS ?= 300
# Debian's emscripten runs its JavaScript steps with the system's node modules.
EMENV := NODE_PATH=/usr/share/nodejs
CMAKE_GEN := -G Ninja

.PHONY: all deps run-deps package-deps bench-deps run package bench-hardening check format soak test test-release test-asan test-fuzz fuzz bench test-web web web-bench web-test-deps serve windows test-windows clean

all: $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)

# Packages: `deps` for everything (the tests), `run-deps` for building and
# running only, `package-deps` and `bench-deps` for those two besides.
deps:
	@scripts/install-deps test

run-deps:
	@scripts/install-deps run

package-deps:
	@scripts/install-deps package

bench-deps:
	@scripts/install-deps bench

$(RELEASE)/build.ninja:
	cmake -S . -B $(RELEASE) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

$(ASAN)/build.ninja:
	cmake -S . -B $(ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DNEBLA_SANITIZE=ON

$(BENCH)/build.ninja:
	cmake -S . -B $(BENCH) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DNEBLA_TESTS=OFF -DNEBLA_BENCH=ON

$(BENCH_PLAIN)/build.ninja:
	cmake -S . -B $(BENCH_PLAIN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DNEBLA_TESTS=OFF -DNEBLA_BENCH=ON -DNEBLA_HARDENING=OFF

run: run-deps $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS) --target nebla nebla-capture
	scripts/run-demo $(RELEASE)

# The Debian package, build/release/package/nebla_VERSION_ARCH.deb, with
# the packaging tools besides the run set (dpkg-dev for the dependencies).
package: package-deps $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)
	cd $(RELEASE) && cpack

# The quick loop after a small change: the unit tests, the floors of the
# includes and the documentation's links; no packages, no sanitizers, no
# window, browser, fuzzing or soak.
check: $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS) --target nebla_tests
	cd $(RELEASE) && ctest -L unit -j $(JOBS) --output-on-failure

# Applies the house style (.clang-format) to every C++ source.
format:
	git ls-files '*.cpp' '*.h' | xargs clang-format-14 -i

test: deps
	$(MAKE) --no-print-directory test-release
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-fuzz
	$(MAKE) --no-print-directory test-web
	$(MAKE) --no-print-directory test-windows

# Configured again, since a build made by `make run` before the test
# packages were installed has no tests.
test-release: $(RELEASE)/build.ninja
	cmake $(RELEASE) >/dev/null
	cmake --build $(RELEASE) -j $(JOBS)
	cd $(RELEASE) && ctest --output-on-failure -j $(JOBS)

test-asan: $(ASAN)/build.ninja
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# One hour of virtual time at the heaviest settings (72,000 frame steps).
soak: deps $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS) --target nebla-soak
	$(RELEASE)/tests/nebla-soak --steps 72000

$(FUZZ)/build.ninja:
	CXX=clang++-14 cmake -S tests/fuzz -B $(FUZZ) $(CMAKE_GEN)

# Each fuzzer from its seed corpus, with a fixed seed so that the run is the
# same every time; new inputs go to a scratch corpus, not the tree.
test-fuzz: $(FUZZ)/build.ninja
	cmake --build $(FUZZ) -j $(JOBS)
	tests/fuzz/run $(FUZZ) $(FUZZ_TEST_SECONDS) -seed=1

# Longer runs with a fresh seed each time; a crash leaves its input in
# $(FUZZ)/crashes and fails the run.
fuzz: deps $(FUZZ)/build.ninja
	cmake --build $(FUZZ) -j $(JOBS)
	tests/fuzz/run $(FUZZ) $(FUZZ_SECONDS)

bench: bench-deps $(BENCH)/build.ninja
	cmake --build $(BENCH) -j $(JOBS)
	$(BENCH)/bench/nebla_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true $(BENCH_ARGS)

# What the hardening flags cost: the benchmarks built without and with them,
# run in turns for BENCH_ROUNDS rounds, side by side.
bench-hardening: bench-deps $(BENCH)/build.ninja $(BENCH_PLAIN)/build.ninja
	cmake --build $(BENCH) -j $(JOBS)
	cmake --build $(BENCH_PLAIN) -j $(JOBS)
	python3 bench/hardening.py $(BENCH_PLAIN)/bench/nebla_bench $(BENCH)/bench/nebla_bench $(BENCH_ROUNDS) $(BENCH_ARGS)

$(WEB)/build.ninja:
	$(EMENV) emcmake cmake -S . -B $(WEB) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DNEBLA_SITE_DIR=$(abspath $(SITE))

$(WEB_THREADS)/build.ninja:
	$(EMENV) emcmake cmake -S . -B $(WEB_THREADS) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DNEBLA_WEB_THREADS=ON -DNEBLA_SITE_DIR=$(abspath $(SITE))

# The page in build/web/site (index.html, the manifest, icons, the service
# worker, nebla.js and .wasm, nebla-inline.js for a page opened from disk,
# and the build with the helper thread, nebla-threads.*), the page as a web
# wallpaper (build/web/nebla-wallpaper.zip) and the capture tool for node.
web: deps $(WEB)/build.ninja $(WEB_THREADS)/build.ninja
	$(EMENV) cmake --build $(WEB) -j $(JOBS)
	$(EMENV) cmake --build $(WEB_THREADS) -j $(JOBS)

# The WebAssembly build shows the same frames as the native one, and the
# page works in headless Chromium, and its core in Firefox and WebKit
# (WebKitWebDriver's MiniBrowser under an Xvfb of its own) too; the
# wallpaper zip holds what its hosts read.
test-web: web web-test-deps $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS) --target nebla-capture
	tests/web/same_frames.sh $(RELEASE)/tools/nebla-capture $(WEB)/tools/nebla-capture.js .
	python3 tests/web/wallpaper_zip.py $(WEB)/nebla-wallpaper.zip
	node tests/web/page_test.mjs $(SITE) $(RELEASE)/tools/nebla-capture $(WEB)/shots

# The frame step at full load in headless Chromium, median and 99th
# percentile: on one thread and with the helper, each also with the
# processor throttled four times.
web-bench: web web-test-deps
	node bench/web/run.mjs $(WEB)/bench/web $(WEB_THREADS)/bench/web

web-test-deps:
	@[ -d tests/web/node_modules/puppeteer-core ] || (cd tests/web && npm ci --no-audit --no-fund)

# With the headers for cross-origin isolation, so the page runs its helper
# thread.
serve: web
	@echo "Nebla is at http://localhost:$(PORT)/ (Ctrl+C stops the server)"
	scripts/serve-web $(SITE) $(PORT)

# The Windows build, cross-compiled with mingw-w64; its tests compare the
# capture tool's frames with the Linux one's.
$(WINDOWS)/build.ninja:
	cmake -S . -B $(WINDOWS) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DNEBLA_NATIVE_CAPTURE=$(CURDIR)/$(RELEASE)/tools/nebla-capture

# nebla.exe, Nebla.scr, nebla-capture.exe and nebla-windows.zip.
windows: deps $(WINDOWS)/build.ninja
	cmake --build $(WINDOWS) -j $(JOBS) --target nebla-zip

# Under Wine: the particle pass's tests, the same frames as on Linux, and
# the window and the screensaver in a virtual X server.
test-windows: windows $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS) --target nebla-capture
	cmake --build $(WINDOWS) -j $(JOBS)
	cd $(WINDOWS) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build out
