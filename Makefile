# Front door: make, make test, make demo.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
CXX ?= g++

FUZZ_SECONDS ?= 30

PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all configure test test-sanitize test32 fuzz demo install package package32 bench clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure:
	cmake -S . -B $(BUILD) -DBUILD_TESTING=ON $(CMAKE_FLAGS)

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again, built with AddressSanitizer and UBSan.
test-sanitize:
	$(MAKE) test BUILD=$(BUILD)-sanitize CMAKE_FLAGS="-DSANITIZE=ON $(CMAKE_FLAGS)"

# What a 32-bit build needs, each checked before anything is built; a
# missing one stops make with one line naming the package.
check-m32 = $(if $(shell echo 'int main() { return 0; }' | $(CXX) -m32 -x c++ -o /dev/null - 2>/dev/null && echo ok),,\
  $(error make $@: building for 32-bit x86 needs g++-multilib (apt-get install g++-multilib)))
check-gtest-src = $(if $(wildcard /usr/src/googletest/CMakeLists.txt),,\
  $(error make $@: the 32-bit tests need GoogleTest's sources (apt-get install googletest)))
check-libc-i386 = $(if $(wildcard /lib/i386-linux-gnu/libc.so.6),,\
  $(error make $@: the i386 package needs the i386 C library (dpkg --add-architecture i386 && apt-get update && apt-get install libc6:i386)))

# The whole suite built for 32-bit x86 (GoogleTest from its sources; the
# package test makes and checks the i386 package), then the 32-bit figures
# compared line for line with the native build's.
test32:
	$(check-m32)
	$(check-gtest-src)
	$(check-libc-i386)
	$(MAKE) all
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

# Debian packages (prefix /usr) of a stripped, hardened Release build:
# $(BUILD)-release/kestrel-label-tools_<version>_<arch>.deb, and the i386
# one in $(BUILD)-release32/.
package:
	cmake -S . -B $(BUILD)-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-release -j $(JOBS)
	cd $(BUILD)-release && cpack -G DEB

package32:
	$(check-m32)
	$(check-libc-i386)
	cmake -S . -B $(BUILD)-release32 -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DCMAKE_CXX_FLAGS=-m32 $(CMAKE_FLAGS)
	cmake --build $(BUILD)-release32 -j $(JOBS)
	cd $(BUILD)-release32 && cpack -G DEB

# Only what the demo runs: the two programs and the demo copy of the tool.
# A fresh build directory is configured without the tests (no GoogleTest).
demo:
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DBUILD_TESTING=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target kstapefmtlpr_lx230 kspagefit_lx230 kstapefmtlpr_demoroot
	./demo/run-demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz $(BUILD)32 $(BUILD)-release $(BUILD)-release32
