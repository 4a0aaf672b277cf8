# Convenience targets; everything is driven by CMake.
#   make run [CMD=file.cmd]   build (Release) and run the bundled example analysis:
#                             listing on the screen, report page beside the command file
#   make test                 build and run every test (installs Chromium for the report page's test,
#                             and R with jsonlite and testthat for the R package's)
#   make check-sanitize       the same under AddressSanitizer + UBSan
#   make bench                build and run the benchmarks
#   make fuzz [FUZZ_SECONDS=600]   run the libFuzzer targets side by side (needs clang)

CMD ?= examples/robust-example.cmd
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 600

.PHONY: all build deps run test check-sanitize bench fuzz clean

all: build

deps:
	@sh tools/install-deps.sh

build: deps
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j $(JOBS)

run: build
	@printf 'i=%s report=%s\n' "$(CMD)" "$(basename $(CMD)).html" | ./build/release/quorvale
	@echo "Report page: $(basename $(CMD)).html"

test: deps
	@sh tools/install-deps.sh report
	@sh tools/install-deps.sh r || echo "R could not be installed: the tests of the R package r/quorvale will be skipped."
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS)

check-sanitize: deps
	cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DQUORVALE_SANITIZE=ON
	cmake --build build/sanitize -j $(JOBS)
	cd build/sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DQUORVALE_BENCH=ON -DQUORVALE_TESTS=OFF
	cmake --build build/bench -j $(JOBS)
	./build/bench/bench/quorvale_bench

fuzz: deps
	@sh tools/install-deps.sh fuzz
	CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVALE_FUZZ=ON -DQUORVALE_TESTS=OFF
	cmake --build build/fuzz -j $(JOBS)
	mkdir -p build/fuzz/corpus build/fuzz/merge_corpus
	cp -n fuzz/corpus/* build/fuzz/corpus/ 2>/dev/null || true
	cp -n fuzz/merge_corpus/* build/fuzz/merge_corpus/ 2>/dev/null || true
	# The two targets run side by side, each for FUZZ_SECONDS; either's finding fails the target.
	./build/fuzz/fuzz/command_fuzzer -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=8192 -artifact_prefix=$(CURDIR)/build/fuzz/command- $(CURDIR)/build/fuzz/corpus > build/fuzz/command.log 2>&1 & cp=$$!; \
	./build/fuzz/fuzz/merge_fuzzer -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=65536 -artifact_prefix=$(CURDIR)/build/fuzz/merge- $(CURDIR)/build/fuzz/merge_corpus > build/fuzz/merge.log 2>&1 & mp=$$!; \
	wait $$cp; c=$$?; wait $$mp; m=$$?; tail -n 3 build/fuzz/command.log build/fuzz/merge.log; test $$c = 0 && test $$m = 0

clean:
	rm -rf build
