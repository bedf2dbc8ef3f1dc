# The two commands of the README: `make test` and `make demo`.
# Everything else here serves CI (.ci/run) and developers.
BUILD        ?= build
BUILD_ASAN   ?= build-asan
BUILD_FUZZ   ?= build-fuzz
BUILD_MINGW  ?= build-mingw
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_SECONDS_SHORT ?= 30
CMAKE_FLAGS  ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build test demo check-sanitize fuzz cross-win format bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# ctest runs inside a private network namespace: nothing a test sends can leave it.
test: build
	scripts/netns-run ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The lab with simulated instruments, and Corla on them (see scripts/demo).
demo: build
	scripts/demo $(BUILD)

check-sanitize: deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORLA_SANITIZE=ON
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	scripts/netns-run ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS)

fuzz: deps
	cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DCORLA_WIRE_ONLY=ON -DCORLA_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(BUILD_FUZZ) -j $(JOBS)
	scripts/run-fuzz $(BUILD_FUZZ)/fuzz/fuzz_parser $(FUZZ_SECONDS)
	scripts/run-fuzz $(BUILD_FUZZ)/fuzz/fuzz_reassembly $(FUZZ_SECONDS_SHORT) fuzz/corpus-reassembly
	scripts/run-fuzz $(BUILD_FUZZ)/fuzz/fuzz_roundtrip $(FUZZ_SECONDS_SHORT) fuzz/corpus-roundtrip

# The Qt-free wire code and the Win32 echo, cross-compiled so the Windows side builds.
cross-win: deps
	cmake -S . -B $(BUILD_MINGW) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/scripts/mingw-w64.cmake \
	    -DCORLA_WIRE_ONLY=ON -DBUILD_TESTING=OFF
	cmake --build $(BUILD_MINGW) -j $(JOBS)

# Benchmarks: the parser alone, then discovery of a 1000-device fleet inside the lab.
bench: build
	$(BUILD)/bench/bench_parser
	scripts/lab --sim-bin $(BUILD)/tools/corla-sim/corla-sim --no-sim -- $(BUILD)/bench/bench_discovery
	scripts/lab --sim-bin $(BUILD)/tools/corla-sim/corla-sim --no-sim -- \
	    $(BUILD)/bench/bench_window --cli $(BUILD)/tools/corla-cli/corla-cli
	scripts/lab --sim-bin $(BUILD)/tools/corla-sim/corla-sim --no-sim -- \
	    $(BUILD)/bench/bench_window --cli $(BUILD)/tools/corla-cli/corla-cli --limit 1024

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ) $(BUILD_MINGW)
