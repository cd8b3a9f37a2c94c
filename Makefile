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

bench: build
	build/release/bench/korvel-bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
