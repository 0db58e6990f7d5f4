# Entry points for people who have the tools: `make demo` shows kestrel on the
# sample image, `make test` builds and runs every test (plain, sanitized, fuzz
# smoke run, Windows build under Wine). On a bare Debian machine,
# scripts/demo.sh and scripts/test.sh first install what these need.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
SAN_BUILD ?= build-sanitize
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
# build and demo take the test suite when GoogleTest is there (AUTO), whatever
# an earlier test run left in the cache; the test targets insist on it (ON: an
# error without GoogleTest) and on ctest finding tests, so that no run passes
# on zero tests.
CTEST = ctest --output-on-failure --no-tests=error -j $(JOBS)
MAKEFLAGS += --no-print-directory

.PHONY: all build demo test test-native test-sanitize test-valgrind test-fuzz-smoke test-windows clean

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

test: test-native test-sanitize test-valgrind test-fuzz-smoke test-windows

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

clean:
	rm -rf $(BUILD) $(SAN_BUILD) build-valgrind build-fuzz build-windows
