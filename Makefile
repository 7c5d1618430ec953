# Two entry points for a newcomer on Debian 12:
#   make run   - install what is missing, configure, build, start Snipora
#   make test  - install what is missing, configure, build, run the whole test suite headless
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
# Warnings are errors in CI (CI=true) and whenever WERROR=ON is given.
WERROR ?= $(if $(filter true 1,$(CI)),ON,OFF)

.PHONY: all deps configure build run test clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DSNIPORA_WERROR=$(WERROR)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/bin/snipora

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
