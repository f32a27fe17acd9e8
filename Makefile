# Quick start: `make run` and `make test` on a fresh machine. Both set up, build, then run.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 300
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKDL_WERROR=ON

.PHONY: all setup configure build test test-asan run bench fuzz install package clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

# Every test: the normal build, then the core again under AddressSanitizer and UBSan
# (which also replays the fuzz corpora with the sanitizers on).
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2
	$(MAKE) --no-print-directory test-asan

test-asan: setup
	@test -f $(ASAN_BUILD)/build.ninja || cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DKDL_WERROR=ON -DKDL_SANITIZE=ON -DKDL_BUILD_GUI=OFF -DKDL_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2

# The main job on the bundled sample floppy.
run: build
	bash scripts/run-sample.sh $(BUILD)

bench: build
	bash scripts/bench.sh $(BUILD)

# Long libFuzzer runs of every fuzz target (FUZZ_SECONDS each); new findings land in build-fuzz/findings.
fuzz: setup
	@test -f $(FUZZ_BUILD)/build.ninja || cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DKDL_FUZZ=ON -DKDL_BUILD_GUI=OFF -DKDL_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD)
	bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

install: build
	cmake --install $(BUILD)

# A Debian package of both programs: $(BUILD)/kdlw_VERSION_ARCH.deb, installed with `apt install ./kdlw_*.deb`.
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
