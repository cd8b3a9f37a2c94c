# The two commands a new machine needs: `make run` and `make test`.
.PHONY: deps build run test bench fuzz sanitize soak format clean

deps:
	scripts/install-deps

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release

run: build
	cd build/release/samples && ../app/korvel

# CTEST_ARGS picks tests out, e.g. CTEST_ARGS='-LE package' leaves out the package build.
test: build
	ctest --preset release --output-on-failure $(CTEST_ARGS)

# Measures korvel against its floors and writes build/release/bench/results.md; never fails on a
# figure.
bench: build
	scripts/install-deps bench
	cmake --build --preset release --target korvel-bench korvel-probe korvel-floor-window
	bench/run build/release

# Each fuzz target runs for FUZZ_SECONDS. What it finds is written into its seeds folder, where
# `make test` replays it from then on; what it learns goes to build/fuzz/corpus. The media
# target also starts from the repository's MP3 files.
FUZZ_SECONDS ?= 300
FUZZ_TARGETS := mci ini shortpath text
fuzz:
	scripts/install-deps fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	@status=0; for t in $(FUZZ_TARGETS); do \
	    mkdir -p build/fuzz/corpus/$$t; \
	    extra=; if [ $$t = mci ] && [ -d tests/platform/corpus ]; then extra=tests/platform/corpus; fi; \
	    echo "== fuzzing $$t for $(FUZZ_SECONDS) s"; \
	    TMPDIR=/dev/shm build/fuzz/tests/fuzz/korvel_fuzz_$$t -max_total_time=$(FUZZ_SECONDS) \
	        -timeout=10 -print_final_stats=1 -artifact_prefix=tests/fuzz/seeds/$$t/ \
	        build/fuzz/corpus/$$t tests/fuzz/seeds/$$t $$extra 2>build/fuzz/$$t.log; \
	    result=$$?; grep -E '^(stat::number_of_executed_units|stat::new_units_added)|^(==|SUMMARY|artifact_prefix|Test unit written)' build/fuzz/$$t.log; \
	    [ $$result -eq 0 ] || { status=1; echo "== $$t: finding kept in tests/fuzz/seeds/$$t (log: build/fuzz/$$t.log)"; }; \
	done; exit $$status

# The unit and window tests built with AddressSanitizer and UndefinedBehaviorSanitizer; every
# report fails the run. Reports that come from libraries are named in scripts/sanitizers/.
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/sanitizers/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=suppressions=$(CURDIR)/scripts/sanitizers/ubsan.supp:print_stacktrace=1:halt_on_error=1
sanitize: deps
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize
	cd build/sanitize && $(SANITIZER_ENV) ctest -j2 --timeout 600 --output-on-failure -LE 'package|desktop'

# A run that `make test` does not make, measured: play/pause/resume/next/stop cycles through the
# window, with the time they take and how memory and open descriptors move over them.
SOAK_CYCLES ?= 10000
soak: build
	cmake --build --preset release --target korvel-soak
	build/release/bench/korvel-soak cycles $(SOAK_CYCLES)

format:
	git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format -i

clean:
	rm -rf build
