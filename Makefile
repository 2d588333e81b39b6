SHELL := /bin/bash
# Front door: `make test` installs what is missing, builds and runs every
# test; `make run` parses a bundled example with the command-line tool.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup configure build node test run install uninstall asan tsan fuzz hardening bench bench-cli bench-peers bench-node bench-python clean

all: build

setup:
	@bash scripts/setup.sh

$(BUILD)/build.ninja:
	@$(MAKE) --no-print-directory setup
	cmake -S . -B $(BUILD) -G Ninja -DKAVLO_WERROR=ON $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The Node.js package in node/, its addon linked against $(BUILD)/libkavlo.so;
# skipped with a message when node, npm or the Node.js headers are missing.
node: build
	@bash node/scripts/make.sh $(abspath $(BUILD))

test: setup build node
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, leak
# checking on, stopping at the first error.
asan: setup
	cmake -S . -B build-asan -G Ninja -DKAVLO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DKAVLO_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# Each libFuzzer harness for FUZZ_TIME seconds under ASan + UBSan; any
# finding fails. The working corpora stay in build-fuzz/.
FUZZ_TIME ?= 60
FUZZERS = parse detect file guess
fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKAVLO_BUILD_FUZZERS=ON -DKAVLO_BUILD_TESTS=OFF -DKAVLO_BUILD_TOOLS=OFF -DKAVLO_BUILD_BENCH=OFF \
	  -DKAVLO_SANITIZE=address,undefined
	cmake --build build-fuzz -j $(JOBS)
	bash fuzz/run.sh $(FUZZ_TIME) $(FUZZERS)

# The tests that parse on several threads at once, under ThreadSanitizer.
tsan: setup
	cmake -S . -B build-tsan -G Ninja -DKAVLO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DKAVLO_SANITIZE=thread -DKAVLO_BUILD_TOOLS=OFF -DKAVLO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS) --target kavlo_api_tests
	TSAN_OPTIONS=halt_on_error=1:suppressions=$(CURDIR)/tests/tsan.supp ./build-tsan/tests/kavlo_api_tests --gtest_filter='Handles.Threads*'

# What CI runs after the tests: sanitizers and a bounded fuzz run.
hardening: asan tsan fuzz

# Throughput against the floor, on generated inputs of 1, 16 and 64 MB
# (written once into bench/data), the memory of parse + JSON, then the
# command-line tool end to end. Not a test; CI does not run it.
BENCH_RUNS ?= 7
bench: build
	python3 bench/gen_inputs.py bench/data 1 16 64
	./$(BUILD)/bench/kavlo_bench bench/data $(BENCH_RUNS)
	python3 bench/tool_bench.py $(BUILD)/kavlo bench/data

# Only the command-line tool's figures.
bench-cli: build
	python3 bench/gen_inputs.py bench/data 64
	python3 bench/tool_bench.py $(BUILD)/kavlo bench/data

# The Python module (build/python) on the 64 MB inputs: parse plus one pass
# over the whole result, peak memory, next to the library's own parse and
# iptv-playlist-parser in node (when node is there). Medians of fresh runs.
bench-python: build
	python3 bench/gen_inputs.py bench/data 64
	PYTHONPATH=$(BUILD)/python /usr/bin/python3 bench/python_bench.py bench/data $(BENCH_RUNS)

# kavlo next to iptv-playlist-parser, @iptv/playlist (npm) and libcue on the
# 16 MB inputs. Optional: installs those peers, not run by CI.
bench-peers: build
	python3 bench/gen_inputs.py bench/data 16
	bash bench/peers/run.sh bench/data

# The Node.js package next to iptv-playlist-parser (npm) in one process on
# the 64 MB M3U list, and a 10 ms timer's lateness during parseAsync.
bench-node: node
	python3 bench/gen_inputs.py bench/data 64
	[ -d bench/peers/node_modules ] || (cd bench/peers && npm install --no-audit --no-fund --silent)
	node --expose-gc bench/node/bench.mjs bench/data/m3u-64MB.m3u $(BENCH_RUNS)

# Installs into PREFIX (default /usr/local): library, headers, kavlo.pc,
# the CMake package, the tool and its man page.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Removes what the last `make install` from $(BUILD) put in place (CMake's
# install_manifest.txt lists it).
uninstall:
	cmake --build $(BUILD) --target uninstall

run: build
	@./$(BUILD)/kavlo examples/iptv.m3u

clean:
	rm -rf $(BUILD) build-*
