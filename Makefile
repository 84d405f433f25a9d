# A thin layer over CMake: `make demo` runs one experiment on the bundled
# example data, `make test` builds and runs every test.
BUILD_DIR ?= build
JOBS ?= 2
CMAKE_ARGS ?=
GENERATOR := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)

.PHONY: all demo test configure clean

all: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

configure:
	@scripts/check-prereqs
	@test -f $(BUILD_DIR)/CMakeCache.txt || cmake -S . -B $(BUILD_DIR) $(GENERATOR) $(CMAKE_ARGS) >/dev/null

demo: all
	@scripts/run-demo $(BUILD_DIR)

test: all
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
