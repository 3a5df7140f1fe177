# Front door of the project.  `make test` and `make demo` work on a fresh
# Debian 12 machine: they install what they need, build, then test or demo.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# The programs the demo runs; `make demo` builds only these.
DEMO_PROGRAMS = vantri-keywriter vantri-key vantri-devsim

.PHONY: all deps build test demo clean format test-windows test-sanitize package \
	package-windows test-drivers

all: build

deps:
	scripts/install-deps build test

# Everything, tests and benchmarks included.
build: deps
	cmake -S . -B $(BUILD) -G Ninja -DVANTRI_BUILD_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure

# Only the demo's programs and only the packages building them needs.  A
# build folder made here leaves the tests out until `make test` asks for them.
demo:
	scripts/install-deps build
	test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja -DVANTRI_BUILD_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_PROGRAMS)
	BUILD=$(BUILD) scripts/demo

# The Win32 serial link, cross-built with MinGW-w64 and run under wine
# against simulated devices (build-win; see docs/windows.md).
test-windows:
	scripts/install-deps windows
	JOBS=$(JOBS) scripts/test-windows

# vantri-key on the real Linux serial drivers (ftdi_sio, 8250) in a small
# QEMU VM, against simulated devices on this machine (build-drivers/).
test-drivers:
	scripts/install-deps build drivers
	JOBS=$(JOBS) scripts/test-drivers

# The Debian package (build-pkg/vantri-keywriter_*.deb), checked by lintian.
package:
	scripts/install-deps build package
	JOBS=$(JOBS) scripts/package-deb

# The Windows setup program (build-win-pkg/vantri-keywriter-*-setup.exe).
package-windows:
	scripts/install-deps windows-package
	JOBS=$(JOBS) scripts/package-windows

# The native suite under AddressSanitizer + UndefinedBehaviorSanitizer
# (build-asan), then ThreadSanitizer over the tests that run the simulator
# on a thread (build-tsan).  Any report fails it.
test-sanitize: deps
	JOBS=$(JOBS) scripts/test-sanitize

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-pkg build-win-pkg build-win build-asan build-tsan build-mutation build-drivers
