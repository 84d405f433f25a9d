# A thin layer over CMake: `make demo` builds the three programs and runs one
# experiment on the bundled example data, `make test` builds and runs every
# test, `make python` installs the Python package. Each first installs the
# Debian packages it needs and are missing (scripts/check-prereqs).
BUILD_DIR ?= build
JOBS ?= 2
CMAKE_ARGS ?=
GENERATOR := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
PROGRAMS := varnel Brimel varnel-prepare
# The interpreter the Python package is installed for: Debian's, beside its
# pandas and numpy (another python3 may come first on PATH); a virtual
# environment's python installs into that environment.
PYTHON ?= /usr/bin/python3

.PHONY: all demo test python clean

# The tests are configured only when something builds them, so the demo needs
# no GoogleTest; a build folder made by the demo gets them on the next `make`.
all:
	@scripts/check-prereqs --install build
	@grep -qs '^VARNEL_BUILD_TESTS:BOOL=ON' $(BUILD_DIR)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD_DIR) $(if $(wildcard $(BUILD_DIR)/CMakeCache.txt),,$(GENERATOR)) \
	    -DVARNEL_BUILD_TESTS=ON $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo:
	@scripts/check-prereqs --install demo
	@test -f $(BUILD_DIR)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD_DIR) $(GENERATOR) -DVARNEL_BUILD_TESTS=OFF $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(PROGRAMS)
	@scripts/run-demo $(BUILD_DIR)

test:
	@scripts/check-prereqs --install test
	@$(MAKE) --no-print-directory all
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

python:
	@scripts/check-prereqs --install python
	@grep -qs '^VARNEL_BUILD_PYTHON:[A-Z]*=ON' $(BUILD_DIR)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD_DIR) $(if $(wildcard $(BUILD_DIR)/CMakeCache.txt),,$(GENERATOR)) \
	    -DVARNEL_BUILD_PYTHON=ON $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target varnel_python varnel Brimel
	VARNEL_CMAKE_BUILD_DIR=$(abspath $(BUILD_DIR)) scripts/install-python $(PYTHON)

clean:
	rm -rf $(BUILD_DIR)
