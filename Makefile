# Kelvane: `make run` plays Tumblewing, `make test` builds and runs every test.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD ?= build
ARGS ?=
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= $(patsubst fuzz/%.cpp,%,$(filter-out fuzz/replay_main.cpp,$(wildcard fuzz/*.cpp)))
TSAN_TESTS ?= .

CMAKE_GEN := -G Ninja

.PHONY: all deps build run test sanitize tsan fuzz bench clean

all: build

deps:
	@scripts/setup-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Only the game and what it links: a first `make run` compiles no test.
run: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target tumblewing
	ARGS="$(ARGS)" scripts/run-game

test: build
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

build-sanitize/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B build-sanitize $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"

sanitize: deps build-sanitize/build.ninja
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/support/lsan.supp:print_suppressions=0 \
	  ctest --output-on-failure --no-tests=error -j $(JOBS)

build-tsan/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKV_TSAN=ON \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"

tsan: deps build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure --no-tests=error -j $(JOBS) -R '$(TSAN_TESTS)'

build-fuzz/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_FUZZ=ON

# Each target runs FUZZ_SECONDS from its seed corpus; new finds go to build-fuzz/corpus/<name>.
fuzz: deps build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  KV_NO_DIALOGS=1 build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    build-fuzz/corpus/$$t fuzz/corpus/$$t 2>&1 | tail -n 12; \
	  test $${PIPESTATUS[0]} -eq 0; \
	done

build-bench/build.ninja:
	cmake -S . -B build-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKV_BENCH=ON -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"

BENCHES := $(patsubst bench/%.cpp,bench_%,$(wildcard bench/*.cpp))

bench: deps build-bench/build.ninja
	cmake --build build-bench -j $(JOBS) --target $(BENCHES) vm_run
	@for b in $(BENCHES); do echo "== $$b"; build-bench/bench/$$b; done
	@echo "== vm_vs_lua"; bench/vm_vs_lua

clean:
	rm -rf build build-sanitize build-tsan build-fuzz build-bench
