# The commands that matter: `make run` and `make test`. Each sets up what is missing first.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 600
CMAKE_FLAGS ?=
# Optimized, with debug information and with assertions (the main queue's owner checks) on.
SANITIZED_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DKV_BUILD_BENCHMARKS=OFF
export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/lsan.supp
export TSAN_OPTIONS ?= halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp

.PHONY: deps configure build run test hostile-sanitized fuzz sanitize soak bench package clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

run: build
	$(BUILD_DIR)/kvplugin

# Every test, then the hostile-request tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then every fuzzer for 30 s.
test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j2
	@$(MAKE) --no-print-directory hostile-sanitized
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=30

hostile-sanitized: deps
	@cmake -S . -B $(ASAN_DIR) -G Ninja $(SANITIZED_FLAGS) -DKV_SANITIZE=address >/dev/null
	@cmake --build $(ASAN_DIR) --target kv_hostile_tests
	cd $(ASAN_DIR) && ctest --output-on-failure -L hostile

# Every libFuzzer target (clang, AddressSanitizer and UndefinedBehaviorSanitizer) for FUZZ_SECONDS
# each, from the committed seeds in fuzz/corpus; `make test` runs each for 30 s.
fuzz: deps
	@fuzz/run $(FUZZ_DIR) $(FUZZ_SECONDS)

# Every test under AddressSanitizer and UndefinedBehaviorSanitizer, then under ThreadSanitizer
# all but the JACK ones: their waits are set for real time, which ThreadSanitizer slows tenfold.
sanitize: deps
	@cmake -S . -B $(ASAN_DIR) -G Ninja $(SANITIZED_FLAGS) -DKV_SANITIZE=address >/dev/null
	@cmake --build $(ASAN_DIR)
	cd $(ASAN_DIR) && ctest --output-on-failure -j2
	@cmake -S . -B $(TSAN_DIR) -G Ninja $(SANITIZED_FLAGS) -DKV_SANITIZE=thread >/dev/null
	@cmake --build $(TSAN_DIR)
	cd $(TSAN_DIR) && ctest --output-on-failure -j2 -LE jack

# The service for SOAK_SECONDS under a mixed load (figures on standard output).
SOAK_SECONDS ?= 3600
soak: build
	$(BUILD_DIR)/tests/kv_soak $(BUILD_DIR)/kvplugin $(SOAK_SECONDS)

# A .deb of the service in the build folder.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

bench: build
	@scripts/install-deps --bench
	@bench/run

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
