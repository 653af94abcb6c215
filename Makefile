# The two commands of the README, and a few more for developers.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)

.PHONY: all deps build test sanitize bench fuzz run stop clean

all: build

deps:
	@tools/install-deps.sh tools/debian-packages.txt

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCORVANE_SANITIZE=ON -DCORVANE_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

bench: build
	bench/run-all.sh $(BUILD)

# libFuzzer targets, each run for FUZZ_SECONDS from the broken-inputs corpus.
fuzz: deps
	@tools/install-deps.sh tools/fuzz-packages.txt
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCORVANE_FUZZ=ON -DCORVANE_WERROR=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	fuzz/run-all.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The agent in the background (tray, or headless without a display), then
# the console when it is built.
run: build
	@tools/run-suite.sh run $(BUILD)

stop:
	@tools/run-suite.sh stop

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
