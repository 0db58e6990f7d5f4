# Entry points for people: `make demo` shows kestrel on the sample image,
# `make test` builds and runs every test (plain, sanitized, fuzz smoke run,
# Windows build under Wine).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
SAN_BUILD ?= build-sanitize

.PHONY: all build demo test test-native test-sanitize test-fuzz-smoke test-windows clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	./$(BUILD)/kestrel examples/sample.d64
	./$(BUILD)/kestrel -vntsfbc examples/sample.d64

test: test-native test-sanitize test-fuzz-smoke test-windows

test-native: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_SANITIZE=ON >/dev/null
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

test-fuzz-smoke:
	bash fuzz/smoke.sh

test-windows:
	bash tests/windows/run.sh

clean:
	rm -rf $(BUILD) $(SAN_BUILD) build-fuzz build-windows
