# Front door: make, make test, make demo.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
CXX ?= g++
# The 32-bit x86 builds use Debian's cross compiler, which also builds the
# i386 package (it cannot be installed beside g++-multilib).
CXX32 ?= i686-linux-gnu-g++

FUZZ_SECONDS ?= 30
# What make prints is what a person reads: no directory lines from the
# makes CMake's build runs below this one.
MAKEFLAGS += --no-print-directory

PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all configure test test-package test-cups test-sanitize test32 fuzz demo install package package32 bench clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure:
	cmake -S . -B $(BUILD) -DBUILD_TESTING=ON $(CMAKE_FLAGS)

# The everyday suite. The Debian package tests (slow: builds, lintian,
# chroots) are make test-package; jobs through a real cupsd (fetched with
# apt-get download the first time) are make test-cups. After each run,
# every skipped test with its reason and one line of counts
# (tests/test-summary.sh).
SUITE ?= test
CTEST_LABELS ?= -LE 'package|cups'
test: all
	@cd $(BUILD) && status=0 && ctest --output-on-failure -j $(JOBS) $(CTEST_LABELS) || status=$$?; \
	  $(CURDIR)/tests/test-summary.sh $(SUITE) . && exit $$status

test-package: all
	@cd $(BUILD) && status=0 && ctest --output-on-failure -j $(JOBS) -L package || status=$$?; \
	  $(CURDIR)/tests/test-summary.sh test-package . && exit $$status

# What sanitizers can find, built with AddressSanitizer and UBSan: the unit
# tests, the programs on hostile input and data sets, the faults and the
# print job's tests. The suites that only drive processes from the outside
# for long (the crash tests' tracing, lpd's pipeline, the install) run in
# the native suite.
test-cups: all
	@cd $(BUILD) && status=0 && ctest --output-on-failure -L cups || status=$$?; \
	  $(CURDIR)/tests/test-summary.sh test-cups . && exit $$status

test-sanitize:
	$(MAKE) test BUILD=$(BUILD)-sanitize SUITE=test-sanitize CTEST_LABELS="-LE 'package|native'" \
	  CMAKE_FLAGS="-DSANITIZE=ON $(CMAKE_FLAGS)"

# What a 32-bit build needs, each checked before anything is built; a
# missing one stops make with one line naming the package.
check-m32 = $(if $(shell echo 'int main() { return 0; }' | $(CXX32) -x c++ -o /dev/null - 2>/dev/null && echo ok),,\
  $(error make $@: building for 32-bit x86 needs the cross compiler $(CXX32) (dpkg --add-architecture i386 && apt-get update && apt-get install crossbuild-essential-i386)))
check-run-m32 = $(if $(shell echo 'int main() { return 0; }' | $(CXX32) -static -x c++ -o $(BUILD)-m32-probe - 2>/dev/null && ./$(BUILD)-m32-probe && echo ok; rm -f $(BUILD)-m32-probe),,\
  $(error make $@: this kernel cannot run 32-bit x86 programs: sudo tests/i386-emulation.sh (with qemu-user-static) lets it))
check-gtest-src = $(if $(wildcard /usr/src/googletest/CMakeLists.txt),,\
  $(error make $@: the 32-bit tests need GoogleTest's sources (apt-get install googletest)))

# The whole suite built for 32-bit x86 (GoogleTest from its sources), then
# the 32-bit figures compared line for line with the native build's.
test32:
	$(check-m32)
	$(check-run-m32)
	$(check-gtest-src)
	$(MAKE) all
	$(MAKE) test BUILD=$(BUILD)32 SUITE=test32 \
	  CMAKE_FLAGS="-DCMAKE_CXX_COMPILER=$(CXX32) -DGTEST_FROM_SOURCE=ON $(CMAKE_FLAGS)"
	./tests/compare-builds.sh $(BUILD) $(BUILD)32

# Each libFuzzer target for FUZZ_SECONDS on its seed corpus (needs clang).
fuzz:
	cmake -S . -B $(BUILD)-fuzz -DFUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	./fuzz/run-fuzzers.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

# Timing and memory on a data set of 300 000 formats (see docs/performance.md).
bench: all
	./bench/run-bench.sh $(BUILD) 300000 9
	./bench/filter-bench.sh $(BUILD) 300000

# Programs under the driver's install root, man pages under $(PREFIX).
install: all
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

# Debian packages, made by dpkg-buildpackage from debian/ out of a copy of
# this tree in $(DEB): $(DEB)/kestrel-label-tools_<version>_<arch>.deb with
# its -dbgsym package and .changes (and, for amd64, the source package). The
# i386 package is cross-built (crossbuild-essential-i386). SOURCE_DATE_EPOCH
# comes from debian/changelog, so that two builds give the same bytes.
DEB ?= $(BUILD)-deb
DEB_ARCH ?= $(shell dpkg --print-architecture)
deb-tools = $(if $(shell command -v dpkg-buildpackage >/dev/null && command -v dh >/dev/null && echo ok),,\
  $(error make $@: the package needs dpkg-dev and debhelper (apt-get install dpkg-dev debhelper)))
check-cross-i386 = $(if $(shell command -v i686-linux-gnu-g++ 2>/dev/null),,\
  $(error make $@: the i386 package needs the cross compiler (dpkg --add-architecture i386 && apt-get update && apt-get install crossbuild-essential-i386)))

package:
	$(deb-tools)
	./debian/build-package.sh "$(DEB)" "$(DEB_ARCH)"

package32:
	$(deb-tools)
	$(check-cross-i386)
	./debian/build-package.sh "$(DEB)32" i386

# Only what the demo runs: the two programs and the demo copy of the tool.
# A fresh build directory is configured without the tests (no GoogleTest).
# The build's own output goes to $(BUILD)/demo-build.log, shown if it fails.
demo:
	@mkdir -p $(BUILD) && echo "Building the programs (log: $(BUILD)/demo-build.log)..." && \
	  { { [ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DBUILD_TESTING=OFF $(CMAKE_FLAGS); } && \
	    cmake --build $(BUILD) -j $(JOBS) --target kstapefmtlpr_lx230 kspagefit_lx230 \
	      kstapefmtlpr_demoroot lx230-filter_demoroot; } >$(BUILD)/demo-build.log 2>&1 || \
	  { cat $(BUILD)/demo-build.log; exit 1; }
	@./demo/run-demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz $(BUILD)32 $(BUILD)-deb $(BUILD)-deb32
