# Thin wrapper over CMake: `make` builds, `make test` builds and runs the
# test suite twice, plainly and under AddressSanitizer and UBSan.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
PREFIX     ?= /usr/local
DESTDIR    ?=

.PHONY: all build asan test test-plain test-asan lint clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DODSCP_WERROR=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DODSCP_SANITIZE=ON -DODSCP_WERROR=ON $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

test: test-plain test-asan

# Static analysis of the system's own code; both must be clean.
lint: build
	clang-tidy -p $(BUILD) --quiet diag/*.cpp frontend/*.cpp ods2/*.cpp output/*.cpp odstar/*.cpp \
	  $(wildcard odsfs/*.cpp)
	cppcheck --enable=warning,style,performance,portability --std=c++20 --language=c++ \
	  --inline-suppr --error-exitcode=1 --quiet -I . diag frontend ods2 output odstar odsfs

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)

.PHONY: install

# Installs bin/odscp, bin/lsods and their manual pages under $(DESTDIR)$(PREFIX).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

.PHONY: demo

# Makes the sample volume from samples/tree and runs odscp on it (samples/demo.sh).
# Builds only the two programs the demo runs, not the test suite.
demo:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target odscp odstar mkvolume
	sh samples/demo.sh $(BUILD)

.PHONY: bench

# Builds odscp and the benchmark's helpers in build-bench and runs bench/run.sh:
# a few minutes, about 2 GiB in /tmp while it runs. Not part of `make test`.
BENCH_BUILD ?= build-bench
bench:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DODSCP_BENCH=ON -DODSCP_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target odscp odstar odscp_make_volumes odscp_time_run odscp_read_extents
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target odsfs || echo "odsfs not built: its rows are skipped"
	bash bench/run.sh $(BENCH_BUILD)

# mkvolume's time on 3,000 and 20,000 files, and their per-file ratio: under a minute.
.PHONY: bench-mkvolume
bench-mkvolume:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DODSCP_BENCH=ON -DODSCP_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target mkvolume odscp_time_run
	bash bench/mkvolume_scaling.sh $(BENCH_BUILD)

.PHONY: fuzz fuzz-smoke

# libFuzzer targets, built with clang in their own tree, and their seed corpora.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60

fuzz:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DODSCP_FUZZ=ON -DODSCP_TESTS=OFF -DODSCP_WERROR=ON $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	tests/fuzz/run.sh seeds $(FUZZ_BUILD)

# Replays every regression input, then fuzzes each target for FUZZ_SECONDS; a crash fails.
fuzz-smoke: fuzz
	tests/fuzz/run.sh smoke $(FUZZ_BUILD) $(FUZZ_SECONDS)
