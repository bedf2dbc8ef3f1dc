# The two commands of the README: `make test` and `make demo`.
# Everything else here serves CI (.ci/run) and developers.
BUILD        ?= build
BUILD_ASAN   ?= build-asan
BUILD_FUZZ   ?= build-fuzz
BUILD_MINGW  ?= build-mingw
# Benchmarks want optimised code and no test binaries: a Release build of their own.
BUILD_BENCH  ?= build-bench
# The package's own build: Debian's build flags (hardening), no tests.
BUILD_DEB    ?= $(BUILD)/deb
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_SECONDS_SHORT ?= 30
CMAKE_FLAGS  ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORLA_WERROR=ON

.PHONY: all deps build test demo package check-package check-sanitize fuzz cross-win format check-format bench clean

all: build

# What `make test` and `make demo` need; each further target asks install-deps for its own
# packages on top, so that testing never depends on them.
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

# The Debian package of all three programs, $(BUILD)/corla_<version>_<arch>.deb (CPack).
# Its tools come from install-deps --package, so that `make test` never needs them.
package:
	@scripts/install-deps --package
	DEB_BUILD_MAINT_OPTIONS=hardening=+all; export DEB_BUILD_MAINT_OPTIONS; \
	cmake -S . -B $(BUILD_DEB) -G Ninja -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF \
	    -DCORLA_PACKAGING=ON -DCMAKE_INSTALL_PREFIX=/usr \
	    -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	    -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build $(BUILD_DEB) -j $(JOBS)
	cd $(BUILD_DEB) && cpack -G DEB -B $(abspath $(BUILD))
	rm -rf $(BUILD)/_CPack_Packages

# What CI checks of the package (see scripts/check-package).
check-package: package
	scripts/check-package $(BUILD)

# Allocations are unwound by frame pointers (the sanitizer's default): full unwinding on every
# malloc made the heaviest lab tests several times slower, and the leak suppressions below
# name libraries, which the short stacks still show.
check-sanitize:
	@scripts/install-deps --sanitize
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORLA_SANITIZE=ON -DCORLA_WERROR=ON
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	scripts/netns-run ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS)

fuzz:
	@scripts/install-deps --fuzz
	cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DCORLA_WIRE_ONLY=ON -DCORLA_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(BUILD_FUZZ) -j $(JOBS)
	scripts/run-fuzz $(BUILD_FUZZ)/fuzz/fuzz_parser $(FUZZ_SECONDS)
	scripts/run-fuzz $(BUILD_FUZZ)/fuzz/fuzz_reassembly $(FUZZ_SECONDS_SHORT) fuzz/corpus-reassembly
	scripts/run-fuzz $(BUILD_FUZZ)/fuzz/fuzz_roundtrip $(FUZZ_SECONDS_SHORT) fuzz/corpus-roundtrip
	scripts/run-fuzz $(BUILD_FUZZ)/fuzz/fuzz_plan $(FUZZ_SECONDS_SHORT) fuzz/corpus-plan

# The Qt-free wire code and the Win32 echo, cross-compiled so the Windows side builds.
cross-win:
	@scripts/install-deps --cross
	cmake -S . -B $(BUILD_MINGW) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/scripts/mingw-w64.cmake \
	    -DCORLA_WIRE_ONLY=ON -DBUILD_TESTING=OFF
	cmake --build $(BUILD_MINGW) -j $(JOBS)

# Benchmarks: the parser alone, then inside the lab the discovery of a 1000-device fleet, the
# window on 5000 devices (with a high and a 1024 descriptor limit), corla-cli apply, and the
# window's About box with and without a flood of its answer ports, and corla-cli discover
# --settle beside a plain connect sweep.
bench: deps
	cmake -S . -B $(BUILD_BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(BUILD_BENCH) -j $(JOBS) --target bench_parser bench_discovery bench_window bench_flood bench_settle corla-sim corla-cli
	$(BUILD_BENCH)/bench/bench_parser
	scripts/lab --sim-bin $(BUILD_BENCH)/tools/corla-sim/corla-sim --no-sim -- $(BUILD_BENCH)/bench/bench_discovery
	@echo "The same at 20 % loss each way (requests and answers), beside the lossless run above:"
	scripts/lab --loss 20 --sim-bin $(BUILD_BENCH)/tools/corla-sim/corla-sim --no-sim -- $(BUILD_BENCH)/bench/bench_discovery
	scripts/lab --sim-bin $(BUILD_BENCH)/tools/corla-sim/corla-sim --no-sim -- \
	    $(BUILD_BENCH)/bench/bench_window --cli $(BUILD_BENCH)/tools/corla-cli/corla-cli
	scripts/lab --sim-bin $(BUILD_BENCH)/tools/corla-sim/corla-sim --no-sim -- \
	    $(BUILD_BENCH)/bench/bench_window --cli $(BUILD_BENCH)/tools/corla-cli/corla-cli --limit 1024
	scripts/lab --sim-bin $(BUILD_BENCH)/tools/corla-sim/corla-sim --sim "--burst 1000 --rate 0 --quiet" -- \
	    bench/bench-apply $(BUILD_BENCH)/tools/corla-cli/corla-cli
	scripts/lab --sim-bin $(BUILD_BENCH)/tools/corla-sim/corla-sim --no-sim -- $(BUILD_BENCH)/bench/bench_flood
	scripts/lab --sim-bin $(BUILD_BENCH)/tools/corla-sim/corla-sim --no-sim -- \
	    $(BUILD_BENCH)/bench/bench_settle --cli $(BUILD_BENCH)/tools/corla-cli/corla-cli

format:
	@scripts/install-deps --format
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# What CI asks of every source: formatted as `make format` leaves it.
check-format:
	@scripts/install-deps --format
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ) $(BUILD_MINGW) $(BUILD_BENCH)
