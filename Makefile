# Front door: `make run` runs the demo, `make test` runs every test,
# `make bench` runs the benchmarks.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE := build/release
ASAN := build/asan
BENCH := build/bench
CMAKE_GEN := -G Ninja

.PHONY: all deps run test test-release test-asan bench clean

all: $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)

deps:
	@scripts/install-deps

$(RELEASE)/build.ninja:
	cmake -S . -B $(RELEASE) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

$(ASAN)/build.ninja:
	cmake -S . -B $(ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DNEBLA_SANITIZE=ON

$(BENCH)/build.ninja:
	cmake -S . -B $(BENCH) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DNEBLA_TESTS=OFF -DNEBLA_BENCH=ON

run: deps $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)
	scripts/run-demo $(RELEASE)

test: deps
	$(MAKE) --no-print-directory test-release
	$(MAKE) --no-print-directory test-asan

test-release: $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)
	cd $(RELEASE) && ctest --output-on-failure -j $(JOBS)

test-asan: $(ASAN)/build.ninja
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

bench: deps $(BENCH)/build.ninja
	cmake --build $(BENCH) -j $(JOBS)
	$(BENCH)/bench/nebla_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true $(BENCH_ARGS)

clean:
	rm -rf build out
