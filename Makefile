# The README's commands. `make test` sets up everything and runs every test.
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 10
PYTHON ?= python3
export PIP_BREAK_SYSTEM_PACKAGES := 1
export PIP_DISABLE_PIP_VERSION_CHECK := 1
export PIP_ROOT_USER_ACTION := ignore

.PHONY: deps build build-asan build-fuzz install test test-cpp test-asan test-python fuzz bench clean demo

deps:
	scripts/install-deps.sh

# One release tree serves the C++ tests and the installed package: pip builds
# it with the tests switched on, so nothing is compiled twice.
PIP_BUILD_FLAGS = --config-settings=build-dir=build/release \
	--config-settings=cmake.define.CMX_BUILD_TESTS=ON

build:
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMX_BUILD_TESTS=ON
	cmake --build build/release -j $(JOBS)

# -O1 -g1 keeps sanitizer builds quick to compile while traces keep line numbers.
build-asan:
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="-O1 -g1" -DCMX_SANITIZE=ON
	cmake --build build/asan -j $(JOBS)

build-fuzz:
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=None \
	  -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" -DCMX_FUZZ=ON
	cmake --build build/fuzz -j $(JOBS)

# Builds build/release incrementally and installs the package from it.
install:
	$(PYTHON) -m pip install -q --no-build-isolation --no-deps $(PIP_BUILD_FLAGS) .

test-cpp: install
	ctest --test-dir build/release --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build/asan --output-on-failure -j $(JOBS)

test-python: install
	CMX_BUILD_DIR=build/release $(PYTHON) -m pytest -q tests/python

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

# The README's main job: from a fresh machine to the tour's output.
demo: deps
	$(MAKE) install
	$(PYTHON) examples/tour.py
