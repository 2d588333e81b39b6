SHELL := /bin/bash
# Front door: `make test` installs what is missing, builds and runs every
# test; `make run` parses a bundled example with the command-line tool.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup configure build node test run install uninstall asan tsan fuzz hardening bench bench-cli bench-peers bench-node bench-python clean \
  setup-wasm wasm test-wasm bench-wasm

all: build

setup:
	@bash scripts/setup.sh

$(BUILD)/build.ninja:
	@$(MAKE) --no-print-directory setup
	cmake -S . -B $(BUILD) -G Ninja -DKAVLO_WERROR=ON $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The Node.js package in node/, its addon compiling the engine's sources;
# skipped with a message when node, npm or the Node.js headers are missing.
node: build
	@bash node/scripts/make.sh

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
# the 64 MB M3U list; four parseFileAsync calls on the 16 MB inputs at once
# against one after another, and a 10 ms timer's lateness meanwhile.
bench-node: node
	python3 bench/gen_inputs.py bench/data 16 64
	[ -d bench/peers/node_modules ] || (cd bench/peers && npm install --no-audit --no-fund --silent)
	node --expose-gc bench/node/bench.mjs bench/data $(BENCH_RUNS)

# The engine compiled to WebAssembly with emscripten (Debian's package,
# installed by scripts/setup-wasm.sh) into the package of wasm/: its module
# in wasm/dist/, with the size of the .wasm file, plain and gzipped.
WASM_BUILD ?= build-wasm
EMENV = NODE_PATH=/usr/share/nodejs
setup-wasm:
	@bash scripts/setup-wasm.sh

$(WASM_BUILD)/build.ninja:
	@bash scripts/setup-wasm.sh --no-browser
	$(EMENV) emcmake cmake -S . -B $(WASM_BUILD) -G Ninja -DKAVLO_WERROR=ON -DCMAKE_BUILD_TYPE=Release

wasm: $(WASM_BUILD)/build.ninja
	$(EMENV) cmake --build $(WASM_BUILD) -j $(JOBS)
	node wasm/scripts/lib.mjs
	@echo "wasm/dist/kavlo-core.wasm: $$(stat -c %s wasm/dist/kavlo-core.wasm) bytes, $$(gzip -9 -c wasm/dist/kavlo-core.wasm | wc -c) gzipped"

# The package's tests (node --test): the full document of every case file
# against the native library's, the API, the packed tarball installed into
# a project of its own, the package under Deno and Bun, and the demo page
# in headless Chromium (each skipped with a message when what it needs is
# missing). Needs the native build for the reference; installs chromium
# (Debian) and playwright-core, deno and bun (npm, wasm/'s dev
# dependencies) the first time.
test-wasm: setup-wasm build wasm
	cc -std=c99 -O2 -Wall -Wextra -Werror -Iinclude wasm/test/reference.c -L$(BUILD) -lkavlo \
	  -Wl,-rpath,$(abspath $(BUILD)) -o $(WASM_BUILD)/kavlo-reference
	[ -f wasm/node_modules/playwright-core/package.json ] && [ -e wasm/node_modules/.bin/deno ] && \
	  [ -e wasm/node_modules/.bin/bun ] || \
	  (cd wasm && npm install --no-audit --no-fund --no-package-lock --loglevel=error) || \
	  echo "test-wasm: the dev dependencies could not be installed; the tests that need them are skipped"
	cd wasm && KAVLO_REFERENCE=$(abspath $(WASM_BUILD))/kavlo-reference KAVLO_ARTEFACTS=$(abspath $(WASM_BUILD)) \
	  node --test test/*.test.js

# The WebAssembly package's parse beside the Node.js addon's and
# iptv-playlist-parser, in one node process on the 64 MB M3U list.
bench-wasm: wasm node
	python3 bench/gen_inputs.py bench/data 64
	[ -d bench/peers/node_modules ] || (cd bench/peers && npm install --no-audit --no-fund --silent)
	node --expose-gc bench/wasm/bench.mjs bench/data/m3u-64MB.m3u $(BENCH_RUNS)

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
	rm -rf $(BUILD) build-* wasm/dist
