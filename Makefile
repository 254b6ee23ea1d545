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

.PHONY: build run test sanitized-fuzz fuzz sanitize soak bench package mutate clean

# The service and its tools only: what running needs.
build:
	@scripts/install-deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCHMARKS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR)

run: build
	$(BUILD_DIR)/kvplugin

# Every test; then, from one clang build with AddressSanitizer and UndefinedBehaviorSanitizer, the
# hostile-request tests and every fuzzer for 30 s.
test:
	@scripts/install-deps --test
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DKV_BUILD_TESTS=ON -DKV_BUILD_BENCHMARKS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR)
	cd $(BUILD_DIR) && ctest --output-on-failure -j2
	@$(MAKE) --no-print-directory sanitized-fuzz FUZZ_SECONDS=30

# The clang build whose libraries carry the fuzzers' coverage, AddressSanitizer and
# UndefinedBehaviorSanitizer: the hostile tests, then every libFuzzer target for FUZZ_SECONDS each
# from the committed seeds in fuzz/corpus.
sanitized-fuzz:
	@scripts/install-deps --test
	@fuzz/configure $(FUZZ_DIR)
	@cmake --build $(FUZZ_DIR) --target kv_hostile_tests kv_fuzzers
	cd $(FUZZ_DIR) && ctest --output-on-failure -L hostile
	@fuzz/run $(FUZZ_DIR) $(FUZZ_SECONDS)

fuzz:
	@scripts/install-deps --test
	@fuzz/configure $(FUZZ_DIR)
	@cmake --build $(FUZZ_DIR) --target kv_fuzzers
	@fuzz/run $(FUZZ_DIR) $(FUZZ_SECONDS)

# Every test under AddressSanitizer and UndefinedBehaviorSanitizer, then under ThreadSanitizer
# all but the JACK ones: their waits are set for real time, which ThreadSanitizer slows tenfold.
sanitize:
	@scripts/install-deps --test
	@cmake -S . -B $(ASAN_DIR) -G Ninja $(SANITIZED_FLAGS) -DKV_SANITIZE=address >/dev/null
	@cmake --build $(ASAN_DIR)
	cd $(ASAN_DIR) && ctest --output-on-failure -j2
	@cmake -S . -B $(TSAN_DIR) -G Ninja $(SANITIZED_FLAGS) -DKV_SANITIZE=thread >/dev/null
	@cmake --build $(TSAN_DIR)
	cd $(TSAN_DIR) && ctest --output-on-failure -j2 -LE jack

# The service for SOAK_SECONDS under a mixed load (figures on standard output).
SOAK_SECONDS ?= 3600
soak: bench-build
	$(BUILD_DIR)/bench/kv_soak $(BUILD_DIR)/kvplugin $(SOAK_SECONDS)

bench: bench-build
	@bench/run

.PHONY: bench-build
bench-build:
	@scripts/install-deps --bench
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DKV_BUILD_TESTS=ON -DKV_BUILD_BENCHMARKS=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR)

# A .deb of the service in the build folder.
package: build
	@scripts/install-deps --package
	cd $(BUILD_DIR) && cpack -G DEB

# Which one-line faults of scripts/mutations.txt the fast tests catch.
mutate:
	@scripts/install-deps --test
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DKV_BUILD_TESTS=ON $(CMAKE_FLAGS) >/dev/null
	@scripts/mutate --build $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
