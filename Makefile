# Two entry points for a newcomer on Debian 12:
#   make run   - install what is missing, configure, build, start Snipora
#   make test  - install what is missing, check the C++ files' layout (.clang-format) and the
#                folders' include graph and function lengths, configure,
#                build, run the whole test suite headless,
#                then again built with AddressSanitizer and UndefinedBehaviorSanitizer, then
#                the libFuzzer targets for a short while each
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 20
# Warnings are errors in CI (CI=true) and whenever WERROR=ON is given.
WERROR ?= $(if $(filter true 1,$(CI)),ON,OFF)

.PHONY: all deps configure build run test format format-check structure-check test-plain test-sanitize test-fuzz test-matrix bench clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DSNIPORA_WERROR=$(WERROR)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/bin/snipora

test: format-check structure-check test-plain test-sanitize test-fuzz

# Every C++ file of the repository as .clang-format lays it out; format-check fails on any
# file that differs (run `make format` to rewrite them).
CLANG_FORMAT ?= clang-format-14
format-check: deps
	git ls-files -z '*.cpp' '*.h' | xargs -0 $(CLANG_FORMAT) --dry-run --Werror

# The folders include one another without a cycle, and no product function is over 60 lines.
structure-check: deps
	python3 scripts/folder-graph.py
	python3 scripts/long-functions.py

format: deps
	git ls-files -z '*.cpp' '*.h' | xargs -0 $(CLANG_FORMAT) -i

test-plain: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -LE matrix

# The whole conversion matrix (every catalogue entry, quality and kind of source); make test
# runs a sampled third of it.
test-matrix: build
	cd $(BUILD_DIR) && ctest --output-on-failure -L matrix

# The whole suite under ASan and UBSan. Leaks are checked where only our code, Qt and the
# in-process copy's libav run (the unit and gui tests, and the copy's engine tests); the
# player's media libraries (mpv, Mesa) keep caches until exit, so the other engine tests and
# the window tests run with leak detection off. System libraries that keep memory until exit
# (fontconfig, x265) are suppressed by name in tests/sanitizers/lsan.supp, so the result does
# not depend on which packages the machine has.
LSAN_SUPPRESSIONS := $(CURDIR)/tests/sanitizers/lsan.supp
LEAK_CHECKED_ENGINE := ^tst_(exactcopy|faults)$$
test-sanitize: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNIPORA_SANITIZE=ON \
		-DSNIPORA_WERROR=$(WERROR)
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && UBSAN_OPTIONS=print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 \
		LSAN_OPTIONS=suppressions=$(LSAN_SUPPRESSIONS):print_suppressions=0 \
		ctest --output-on-failure -j $(JOBS) -L "unit|gui"
	cd $(ASAN_DIR) && UBSAN_OPTIONS=print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 \
		LSAN_OPTIONS=suppressions=$(LSAN_SUPPRESSIONS):print_suppressions=0 \
		ctest --output-on-failure -j $(JOBS) -R "$(LEAK_CHECKED_ENGINE)"
	cd $(ASAN_DIR) && UBSAN_OPTIONS=print_stacktrace=1 ASAN_OPTIONS=detect_leaks=0 \
		ctest --output-on-failure -j $(JOBS) -L "engine|x11" -E "$(LEAK_CHECKED_ENGINE)"

# libFuzzer targets built with clang; each runs FUZZ_SECONDS seconds.
test-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DSNIPORA_FUZZ=ON -DSNIPORA_BUILD_TESTS=OFF -DSNIPORA_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_timecode fuzz_options fuzz_progress fuzz_grid
	cd $(FUZZ_DIR) && ctest --output-on-failure -j $(JOBS) -L fuzz

bench: build
	bench/run.sh

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
