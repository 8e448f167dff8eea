# The two commands a newcomer needs: `make demo` and `make test`.
# Both install what is missing (scripts/install-deps), build, and run.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build test test-package demo package asan bench clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The tests labelled "package" build the Debian package once more:
# `make test-package` (CI runs it too). After CTest, the programs whose
# tests need the Qt dialog (the ASan build has none) run whole, shuffled,
# twice over (scripts/check-test-order).
QT_ORDER_PROGRAMS = ^(qt_.*|host_agent_test|it_cups_queue_test)$$
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE package
	@if grep -q '^R2740_BUILD_QT:BOOL=ON' $(BUILD)/CMakeCache.txt; then \
	  ORDER_PROGRAMS='$(QT_ORDER_PROGRAMS)' ORDER_REPEAT=2 JOBS=$(JOBS) scripts/check-test-order $(BUILD); fi

test-package: build
	ctest --test-dir $(BUILD) --output-on-failure -L package

demo: build
	scripts/demo $(BUILD)

# The Debian source and binary packages (debian/), built by dpkg-buildpackage
# from a copy of the tree in $(PKG_BUILD), with Debian's flags: the .dsc and
# $(PKG_BUILD)/r2740_<version>_<arch>.deb. The tests are `make test`'s.
PKG_BUILD ?= $(BUILD)/package
package: deps
	DEB_BUILD_OPTIONS="nocheck parallel=$(JOBS) $(DEB_BUILD_OPTIONS)" packaging/build-package $(PKG_BUILD)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DR2740_SANITIZE=ON -DR2740_BUILD_QT=OFF $(CMAKE_ARGS)

# After CTest (one process per test), every test program runs whole,
# shuffled and three times over (scripts/check-test-order).
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	$(ASAN_ENV) ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)
	$(ASAN_ENV) JOBS=$(JOBS) scripts/check-test-order $(ASAN_BUILD)

bench: build
	@scripts/install-deps bench
	scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)

# Fuzzing (clang, libFuzzer): build the fuzz targets with coverage and
# AddressSanitizer/UBSan over the whole tree, then run each for
# FUZZ_SECONDS on a scratch copy of its seed corpus (fuzz/corpus/<name>).
# A finding stops the run; the input is left in $(FUZZ_BUILD)/findings/.
# `make fuzz-replay` (CI) builds the same programs and runs each once over
# every input of its corpus, so a clang-only build break or a regressed
# finding shows at once.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= $(notdir $(wildcard fuzz/corpus/*))
FUZZ_ENV      = UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: fuzz fuzz-build fuzz-replay
$(FUZZ_BUILD)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DR2740_FUZZ=ON -DR2740_BUILD_QT=OFF -DR2740_SANITIZE=ON \
	  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" $(CMAKE_ARGS)

fuzz-build: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) --target fuzzers -j $(JOBS)

fuzz: fuzz-build
	@mkdir -p $(FUZZ_BUILD)/findings
	@set -e; for t in $(FUZZ_TARGETS); do \
	  rm -rf $(FUZZ_BUILD)/corpus/$$t; mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  cp fuzz/corpus/$$t/* $(FUZZ_BUILD)/corpus/$$t/; \
	  echo "== $$t ($(FUZZ_SECONDS) s)"; \
	  $(FUZZ_ENV) $(FUZZ_BUILD)/bin/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=20 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/findings/$$t- $(FUZZ_BUILD)/corpus/$$t; \
	done

# Files, not the folder: libFuzzer runs each once and writes nothing.
fuzz-replay: fuzz-build
	@set -e; for t in $(FUZZ_TARGETS); do \
	  echo "== $$t: $$(ls fuzz/corpus/$$t | wc -l) inputs"; \
	  $(FUZZ_ENV) $(FUZZ_BUILD)/bin/$${t}_fuzz -timeout=20 fuzz/corpus/$$t/* > $(FUZZ_BUILD)/replay-$$t.log 2>&1 \
	    || { tail -40 $(FUZZ_BUILD)/replay-$$t.log; exit 1; }; \
	done
