# Front door of the project.  `make test` and `make demo` work on a fresh
# Debian 12 machine: they install what they need, build, then test or demo.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build test demo clean format test-windows test-sanitize

all: build

deps:
	scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure

demo: build
	scripts/demo

# The Win32 serial link, cross-built with MinGW-w64 and run under wine
# against simulated devices (build-win; see docs/windows.md).
test-windows:
	scripts/install-deps windows
	JOBS=$(JOBS) scripts/test-windows

# The native suite under AddressSanitizer + UndefinedBehaviorSanitizer
# (build-asan), then ThreadSanitizer over the tests that run the simulator
# on a thread (build-tsan).  Any report fails it.
test-sanitize: deps
	JOBS=$(JOBS) scripts/test-sanitize

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
