# Convenience front end to CMake. `make demo` runs the example scenario,
# `make test` builds and runs every test.
BUILD ?= build
JOBS ?= 2

.PHONY: all build demo run test clean bench bench-posterior

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# combosim alone, built quietly for demo and run: the output of the
# configuration and the build is shown only when one of them fails. Only the
# packages of the build are installed for it.
.PHONY: combosim-quiet
combosim-quiet: | build-deps
	@log=$$(mktemp) && \
	  { [ -f $(BUILD)/CMakeCache.txt ] || \
	    cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release; } > $$log 2>&1 && \
	  cmake --build $(BUILD) -j $(JOBS) --target combosim >> $$log 2>&1; \
	  status=$$?; [ $$status = 0 ] || cat $$log >&2; rm -f $$log; exit $$status

# Runs the bundled example scenario end to end; the report is appended to
# results.txt in the current directory.
demo: combosim-quiet
	$(BUILD)/combosim < examples/demo.txt

# The interactive program, its banner first.
run: combosim-quiet
	@$(BUILD)/combosim

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# Seconds per trial of the benchmark scenario and microseconds per update;
# BASELINE=<git ref> also times that commit side by side. METHODS=1 also
# times both posterior methods through combosim-batch (make bench-posterior).
bench:
	bench/run.sh $(abspath $(BUILD))
	$(if $(METHODS),bench/methods.sh $(abspath $(BUILD)))

# CPU seconds per trial of gibbs and quadrature, side by side, on
# examples/scenarios/bench.json and grid10.json, with their ratio.
bench-posterior:
	bench/methods.sh $(abspath $(BUILD))

# Shards on a real one-node Slurm cluster (as root) and through GNU parallel,
# each checked against one combosim-batch process (see "Running on a
# cluster" in README.md).
.PHONY: slurm-test parallel-test
slurm-test: build
	scripts/slurm-test.sh $(abspath $(BUILD))

parallel-test: build
	scripts/parallel-test.sh $(abspath $(BUILD))

# Robustness checks (see "Robustness" in README.md).
FUZZ_SECONDS ?= 60
FUZZ_CXX ?= clang++-14
.PHONY: fuzz sanitize valgrind

# Fuzzes the dialogue for FUZZ_SECONDS seconds, from the seeds in fuzz/corpus;
# inputs that add coverage go to build-fuzz/corpus, failing ones to
# build-fuzz/crash-*.
fuzz:
	CXX=$(FUZZ_CXX) cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCOMBOSIM_SANITIZE=ON -DCOMBOSIM_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target dialogue_fuzz
	mkdir -p build-fuzz/corpus
	build-fuzz/dialogue_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=20 \
	  -dict=fuzz/dialogue.dict \
	  -artifact_prefix=build-fuzz/ build-fuzz/corpus fuzz/corpus

# Every test, built with AddressSanitizer and UndefinedBehaviorSanitizer, but
# the browser's (label "browser": Chromium is not built with them).
sanitize:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCOMBOSIM_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS) -LE '^(r|slurm|parallel|browser)$$'

# One small scenario under valgrind's memcheck; any error fails.
valgrind: build
	dir=$$(mktemp -d) && cd $$dir && \
	  valgrind --error-exitcode=99 --leak-check=full \
	    --errors-for-leak-kinds=definite,indirect \
	    $(abspath $(BUILD))/combosim < $(CURDIR)/tests/fixtures/extreme_1x1.txt \
	    > valgrind-run.txt; status=$$?; \
	  tail -n 8 valgrind-run.txt; rm -rf $$dir; exit $$status

# System packages, installed when missing (Debian and Ubuntu): directly as
# root, otherwise through sudo. `make deps` installs all of them, and `build`,
# and with it every target that builds, runs it first; `make build-deps`
# installs only what building needs, and `demo` and `run` run only that.
# What building needs:
BUILD_DEPS ?= g++ make cmake libgtest-dev libcli11-dev nlohmann-json3-dev libboost-dev
# What the tests need besides: the cluster tests (Slurm, munge, GNU
# parallel), the R package (jsonlite: its study and scenario files; knitr,
# rmarkdown and pandoc: its vignette; png: its plots' tests), the visual
# report's browser tests and `make report-demo` (Chromium, libpng, and
# poppler-utils to read the printed report), and `make bench` (Google
# Benchmark).
TEST_DEPS ?= slurm-wlm munge parallel r-base-core r-cran-rcpp r-cran-bh r-cran-testthat \
  r-cran-jsonlite r-cran-knitr r-cran-rmarkdown r-cran-png pandoc chromium libpng-dev \
  poppler-utils libbenchmark-dev
DEPS ?= $(BUILD_DEPS) $(TEST_DEPS)
.PHONY: deps build-deps
deps: PACKAGES = $(DEPS)
build-deps: PACKAGES = $(BUILD_DEPS)
# A build folder configured before the packages came is configured again,
# so that CMake finds them.
deps build-deps:
	@command -v dpkg >/dev/null || { echo "$@: no dpkg here; install by hand: $(PACKAGES)"; exit 0; }; \
	missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || \
	    missing="$$missing $$p"; done; \
	[ -z "$$missing" ] && exit 0; \
	if [ "$$(id -u)" = 0 ]; then sudo=""; \
	elif command -v sudo >/dev/null; then sudo=sudo; \
	else echo "$@: missing$$missing; install them as root"; exit 1; fi; \
	echo "$@: installing$$missing"; \
	$$sudo apt-get update && \
	$$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing && \
	{ [ ! -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) > /dev/null; }
build: deps
$(BUILD)/CMakeCache.txt: | deps

# The R package: assembled from r/combosim and the engine's sources in
# $(BUILD)/r/combosim and installed into $(BUILD)/rlib; `make test` runs its
# tests. `make rcheck` runs R CMD check on it and fails on anything but the
# argued warning (see r/check.sh).
.PHONY: r rcheck
r: deps
	r/assemble.sh $(BUILD) $(JOBS)
test: r
rcheck: r
	r/check.sh $(BUILD)

# The visual report: runs the examples through combosim-batch and leaves
# their report.html and a Chromium screenshot of it, report.png, in $(BUILD)/.
.PHONY: report-demo
report-demo: build
	rm -rf $(BUILD)/report-demo
	$(BUILD)/combosim-batch --out $(BUILD)/report-demo examples/*.txt
	cp $(BUILD)/report-demo/report.html $(BUILD)/report.html
	scripts/chromium-headless.sh --screenshot=$(abspath $(BUILD))/report.png \
	  --window-size=1280,3600 $(BUILD)/report.html
	@echo "report-demo: open $(BUILD)/report.html; its screenshot is $(BUILD)/report.png"
