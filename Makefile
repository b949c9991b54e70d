# Front door: make, make test, make demo.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2

FUZZ_SECONDS ?= 30

PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all configure test test-sanitize test32 fuzz demo install package bench clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again, built with AddressSanitizer and UBSan.
test-sanitize:
	$(MAKE) test BUILD=$(BUILD)-sanitize CMAKE_FLAGS="-DSANITIZE=ON $(CMAKE_FLAGS)"

# The whole suite built for 32-bit x86 (GoogleTest from its sources), then
# the 32-bit figures compared line for line with the native build's.
test32: all
	$(MAKE) test BUILD=$(BUILD)32 CMAKE_FLAGS="-DCMAKE_CXX_FLAGS=-m32 -DGTEST_FROM_SOURCE=ON $(CMAKE_FLAGS)"
	./tests/compare-builds.sh $(BUILD) $(BUILD)32

# Each libFuzzer target for FUZZ_SECONDS on its seed corpus (needs clang).
fuzz:
	cmake -S . -B $(BUILD)-fuzz -DFUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	./fuzz/run-fuzzers.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

# Timing and memory on a data set of 300 000 formats (see README).
bench: all
	./bench/run-bench.sh $(BUILD) 300000 9

# Programs under the driver's install root, man pages under $(PREFIX).
install: all
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of that install (prefix /usr), in $(BUILD)/.
package: all
	cd $(BUILD) && cpack -G DEB

demo: all
	./demo/run-demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz $(BUILD)32
