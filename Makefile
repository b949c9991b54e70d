# Front door: make, make test, make demo.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2

.PHONY: all configure test demo clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: all
	./demo/run-demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
