# Bopling's two commands: `make run` and `make test`. Both install what is
# missing, configure and build first.

BUILD_DIR ?= build
ASAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 300
# Warnings are errors in CI.
WERROR := $(if $(CI),ON,OFF)
# ccache, when installed, lets several build trees share compiled objects.
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBOPLING_WERROR=$(WERROR) $(LAUNCHER)

.PHONY: all deps build run test test-asan fuzz bench package clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)

# Starts Bopling listening to system audio; Ctrl-C ends it.
run: build
	$(BUILD_DIR)/bopling

test: build
	scripts/test-env ctest --test-dir $(BUILD_DIR) --output-on-failure
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=60
	@$(MAKE) --no-print-directory test-asan

# The unit tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBOPLING_SANITIZE=ON \
	  -DBOPLING_GUI=OFF -DBOPLING_BENCH=OFF -DBOPLING_WERROR=$(WERROR) $(LAUNCHER)
	cmake --build $(ASAN_DIR)
	scripts/test-env ctest --test-dir $(ASAN_DIR) -L unit --output-on-failure

# libFuzzer over the creature check; FUZZ_SECONDS of fuzzing in all.
fuzz: deps
	scripts/fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

# The Debian package, written to $(BUILD_DIR)/bopling_<version>_<arch>.deb.
package: build
	cd $(BUILD_DIR) && cpack

bench: build
	scripts/test-env cmake --build $(BUILD_DIR) --target bench

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
