# Entry points for people who have the tools: `make demo` shows kestrel on the
# sample image, `make test` builds and runs every test (plain, sanitized, fuzz
# smoke run, Windows build under Wine, the packages), `make package` builds
# the Debian package and the Windows zip. On a bare Debian machine,
# scripts/demo.sh and scripts/test.sh first install what these need.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
SAN_BUILD ?= build-sanitize
PKG_BUILD ?= build-package
WIN_BUILD ?= build-windows
# The mingw-w64 compiler by any of the names cmake/mingw-w64.cmake takes.
MINGW_CXX := $(firstword $(foreach name,x86_64-w64-mingw32-g++ x86_64-w64-mingw32-g++-win32 \
	x86_64-w64-mingw32-g++-posix,$(shell command -v $(name) 2>/dev/null)))
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
# build and demo take the test suite when GoogleTest is there (AUTO), whatever
# an earlier test run left in the cache; the test targets insist on it (ON: an
# error without GoogleTest) and on ctest finding tests, so that no run passes
# on zero tests.
CTEST = ctest --output-on-failure --no-tests=error -j $(JOBS)
MAKEFLAGS += --no-print-directory

.PHONY: all build demo package test test-native test-sanitize test-valgrind test-fuzz-smoke test-windows \
	test-package clean

all: build

build:
	$(CONFIGURE) -DKESTREL_TESTS=AUTO >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# Only the program: the demo needs neither GoogleTest nor the test build.
demo:
	$(CONFIGURE) -DKESTREL_TESTS=AUTO >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target kestrel
	./$(BUILD)/kestrel examples/sample.d64
	./$(BUILD)/kestrel -vntsfbc examples/sample.d64

# The Debian package, from a release build of its own without the tests, and
# the zip of the Windows build (the one test-windows makes), where the
# mingw-w64 cross compiler is installed.
package:
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF >/dev/null
	cmake --build $(PKG_BUILD) -j $(JOBS) --target package
ifneq ($(MINGW_CXX),)
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
		-DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF >/dev/null
	cmake --build $(WIN_BUILD) -j $(JOBS) --target package
else
	@echo "No mingw-w64 cross compiler (Debian package g++-mingw-w64-x86-64): the Windows zip is not built."
endif

test: test-native test-sanitize test-valgrind test-fuzz-smoke test-windows test-package

test-native:
	$(CONFIGURE) -DKESTREL_TESTS=ON >/dev/null
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && $(CTEST)

test-sanitize:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_SANITIZE=ON -DKESTREL_TESTS=ON >/dev/null
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

# memcheck sees reads of bytes never written (the image buffer is not
# zero-filled), which AddressSanitizer does not.
test-valgrind:
	bash tests/valgrind/run.sh

test-fuzz-smoke:
	bash fuzz/smoke.sh

test-windows:
	bash tests/windows/run.sh

test-package:
	PKG_BUILD=$(PKG_BUILD) WIN_BUILD=$(WIN_BUILD) bash tests/package/run.sh

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(PKG_BUILD) build-valgrind build-fuzz $(WIN_BUILD)
