# The two commands a new machine needs: `make run` and `make test`.
.PHONY: deps build run test bench format clean

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

# Measures korvel against its floors and writes bench/results.md; never fails on a figure.
bench: build
	scripts/install-deps bench
	bench/run build/release

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
