# make demo ARGS="..." [ARCH=i686|x86_64]   build both architectures and run the stand-in player
#                        (on the i686 build where this machine runs 32-bit programs)
# make test              build both architectures and run every test on each
# make bench             build and run the benchmarks on both builds (never part of make test)
# make package           build the i686 deliverables, then dist/qvquellspring-<version>.zip and -setup.exe
# make screenshots       pictures of the plug-in's windows in build/screenshots/ (i686 where it runs)
# make soak [SEED=N] [SEQUENCES=N] [SHARDS=N]   the long soak in SHARDS processes; SEED replays a run
#                        (screenshots and soak take ARCH= as demo does)
BUILD ?= build
ARGS ?=
ARCH ?=
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
	@cmake -S . -B $(BUILD)/i686 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake \
		-DQV_BUILD_TESTS=ON -DQV_I686_DIR=$(abspath $(BUILD)/i686) >/dev/null
	@cmake --build $(BUILD)/i686 -j $(JOBS)

build-x86_64:
	@cmake -S . -B $(BUILD)/x86_64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake \
		-DQV_BUILD_TESTS=ON -DQV_I686_DIR=$(abspath $(BUILD)/i686) >/dev/null
	@cmake --build $(BUILD)/x86_64 -j $(JOBS)

test: build
	@bash tools/test.sh $(BUILD) $(JOBS) $(CTEST_ARGS)

demo: build
	@QV_ARCH=$(ARCH) bash tools/demo.sh $(BUILD) $(ARGS)

bench: build
	@bash tools/bench_both.sh $(BUILD)

package: setup build-i686
	@bash tools/package.sh $(BUILD)/i686 dist

screenshots: build
	@arch=$(ARCH); arch=$${arch:-$$(bash tools/wine32.sh can-run && echo i686 || echo x86_64)}; \
	QV_ARCH=$$arch bash tools/testenv.sh $(BUILD)/$$arch/testenv -- \
		bash tools/screenshots.sh $(BUILD)/$$arch $(BUILD)/screenshots

soak: build
	@arch=$(ARCH); arch=$${arch:-$$(bash tools/wine32.sh can-run && echo i686 || echo x86_64)}; \
	QV_ARCH=$$arch bash tools/testenv.sh $(BUILD)/$$arch/testenv -- \
		bash tools/soak.sh $(BUILD)/$$arch "$(SEED)" $(SEQUENCES) $(SHARDS)

clean:
	rm -rf $(BUILD)
