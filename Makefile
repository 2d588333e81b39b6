# Front door: `make test` installs what is missing, builds and runs every
# test; `make run` parses a bundled example with the command-line tool.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup configure build test run install asan oom hardening clean

all: build

setup:
	@bash scripts/setup.sh

$(BUILD)/build.ninja:
	@$(MAKE) --no-print-directory setup
	cmake -S . -B $(BUILD) -G Ninja -DKAVLO_WERROR=ON $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: setup build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, leak
# checking on, stopping at the first error.
asan: setup
	cmake -S . -B build-asan -G Ninja -DKAVLO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DKAVLO_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

run: build
	@./$(BUILD)/kavlo examples/iptv.m3u

clean:
	rm -rf $(BUILD) build-*
