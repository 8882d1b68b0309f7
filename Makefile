# make demo ARGS="..."   build both architectures and run the stand-in player
# make test              build both architectures and run every test
# make bench             build and run the benchmarks (never part of make test)
# make package           build the i686 deliverables, then dist/qvquellspring-<version>.zip and -setup.exe
# make screenshots       pictures of the plug-in's windows in build/screenshots/
# make soak [SEED=N] [SEQUENCES=N] [SHARDS=N]   the long soak in SHARDS processes; SEED replays a run
BUILD ?= build
ARGS ?=
CTEST_ARGS ?=
JOBS ?= 2
SEED ?=
SEQUENCES ?= 10000
SHARDS ?= 8

.PHONY: all setup build build-i686 build-x86_64 test demo bench package screenshots soak clean

all: build

setup:
	@bash tools/setup.sh

build: setup build-i686 build-x86_64

build-i686:
	@cmake -S . -B $(BUILD)/i686 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake >/dev/null
	@cmake --build $(BUILD)/i686 -j $(JOBS)

build-x86_64:
	@cmake -S . -B $(BUILD)/x86_64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake \
		-DQV_BUILD_TESTS=ON -DQV_I686_DIR=$(abspath $(BUILD)/i686) >/dev/null
	@cmake --build $(BUILD)/x86_64 -j $(JOBS)

test: build
	@bash tools/testenv.sh $(BUILD)/x86_64/testenv -- \
		ctest --test-dir $(BUILD)/x86_64 --output-on-failure -j $(JOBS) $(CTEST_ARGS)

demo: build
	@bash tools/demo.sh $(BUILD)/x86_64 $(ARGS)

bench: build
	@bash tools/testenv.sh $(BUILD)/x86_64/testenv -- bash tools/bench.sh $(BUILD)/x86_64

package: setup build-i686
	@bash tools/package.sh $(BUILD)/i686 dist

screenshots: build
	@bash tools/testenv.sh $(BUILD)/x86_64/testenv -- \
		bash tools/screenshots.sh $(BUILD)/x86_64 $(BUILD)/screenshots

soak: build
	@bash tools/testenv.sh $(BUILD)/x86_64/testenv -- bash tools/soak.sh $(BUILD)/x86_64 "$(SEED)" $(SEQUENCES) $(SHARDS)

clean:
	rm -rf $(BUILD)
