# Convenience front end to CMake. `make demo` runs the example scenario,
# `make test` builds and runs every test.
BUILD ?= build
JOBS ?= 2

.PHONY: all build demo run test clean bench

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Runs the bundled example scenario end to end; the report is appended to
# results.txt in the current directory.
demo: build
	$(BUILD)/combosim < examples/demo.txt

# The interactive program.
run: build
	$(BUILD)/combosim

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# Seconds per trial of the benchmark scenario and microseconds per update;
# BASELINE=<git ref> also times that commit side by side.
bench:
	bench/run.sh $(abspath $(BUILD))
