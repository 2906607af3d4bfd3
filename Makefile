# The README's commands. `make test` sets up everything and runs every test.
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 10
PYTHON ?= python3
export PIP_BREAK_SYSTEM_PACKAGES := 1
export PIP_DISABLE_PIP_VERSION_CHECK := 1
export PIP_ROOT_USER_ACTION := ignore

.PHONY: deps build build-asan build-fuzz install test test-cpp test-asan test-python fuzz bench clean

deps:
	scripts/install-deps.sh

build:
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j $(JOBS)

build-asan:
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMX_SANITIZE=ON
	cmake --build build/asan -j $(JOBS)

build-fuzz:
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMX_FUZZ=ON
	cmake --build build/fuzz -j $(JOBS)

# Builds the wheel's tree incrementally in build/wheel and installs the package.
install:
	$(PYTHON) -m pip install -q --no-build-isolation --no-deps .

test-cpp: build
	ctest --test-dir build/release --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build/asan --output-on-failure -j $(JOBS)

test-python: install
	$(PYTHON) -m pytest -q tests/python

# Each fuzz target runs for FUZZ_SECONDS from its seed corpus.
fuzz: build-fuzz
	scripts/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

test: deps
	$(MAKE) test-cpp
	$(MAKE) test-asan
	$(MAKE) fuzz
	$(MAKE) test-python

bench: deps
	scripts/install-deps.sh --bench
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMX_BUILD_BENCH=ON -DCMX_BUILD_TESTS=OFF
	cmake --build build/bench -j $(JOBS)
	$(MAKE) install
	scripts/run-benches.sh build/bench

clean:
	rm -rf build
