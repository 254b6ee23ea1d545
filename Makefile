# The commands that matter: `make run` and `make test`. Each sets up what is missing first.
BUILD_DIR ?= build
CMAKE_FLAGS ?=

.PHONY: deps configure build run test bench clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

run: build
	$(BUILD_DIR)/kvplugin

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j2

bench: build
	@scripts/install-deps --bench
	@bench/run

clean:
	rm -rf $(BUILD_DIR)
