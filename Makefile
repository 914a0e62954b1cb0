# make demo   - build, publish a demo client to a local nginx and bring a demo installation up to date
# make test   - build everything and run every test: native, sanitizers, Windows under Wine, fuzzers
# make build  - native and Windows programs (build/native/bin, build/win32/bin)
# make bench  - benchmarks against the standard tools, printed as ratios
# make crash  - update runs killed at random moments: 480 natively, 70 under Wine, a third of them the launcher's (some runs end before their kill: about 300 and 40 land) (CRASH_NATIVE, CRASH_WINE)

SHELL := /bin/bash
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CRASH_NATIVE ?= 480
CRASH_WINE ?= 70
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all setup build native win32 asan fuzz test test-layers test-native test-asan test-win32 test-fuzz demo bench crash clean

all: build

setup:
	@bash scripts/setup.sh

native: setup
	@cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	@cmake --build build/native -j $(JOBS)

win32: setup
	@cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build build/win32 -j $(JOBS)

asan: setup
	@cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVEX_SANITIZE=ON >/dev/null
	@cmake --build build/asan -j $(JOBS)

fuzz: setup
	@cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEX_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build build/fuzz -j $(JOBS)

build: native win32

test-layers:
	@bash scripts/check-layers.sh

test-native: native
	ctest --test-dir build/native --output-on-failure -j $(JOBS)

test-asan: asan
	ctest --test-dir build/asan --output-on-failure -j $(JOBS)

test-win32: win32
	ctest --test-dir build/win32 --output-on-failure -j $(JOBS)

test-fuzz: fuzz
	@bash tests/fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

test: test-layers test-native test-asan test-win32 test-fuzz

# The demo builds only the programs it runs: the publisher, the launcher and the game it starts.
demo:
	@bash scripts/setup.sh --demo
	@cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	@cmake --build build/native -j $(JOBS) --target orvex-publish
	@cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build build/win32 -j $(JOBS) --target OrvexUpdater window_test_game
	@bash scripts/demo.sh

bench: build
	@bash bench/run.sh

crash: setup
	@cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	@cmake --build build/native -j $(JOBS) --target orvex-update orvex-publish
	@cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build build/win32 -j $(JOBS) --target orvex-update OrvexUpdater
	python3 tests/crash/crash_test.py --update build/native/bin/orvex-update --publish build/native/bin/orvex-publish \
	  --work build/native/crash-matrix --kills $(CRASH_NATIVE)
	python3 tests/crash/crash_test.py --update build/win32/bin/orvex-update.exe --publish build/native/bin/orvex-publish \
	  --work build/win32/crash-matrix --wine build/win32/crash-wine --launcher build/win32/bin/OrvexUpdater.exe \
	  --kills $(CRASH_WINE)

clean:
	rm -rf build
