# Front door: `make demo` and `make test` do everything on a fresh Debian 12 machine (as root).
.PHONY: all build setup test demo bench package man format clean

all: build

setup:
	scripts/setup

build: setup
	scripts/build

test:
	scripts/test

demo:
	scripts/demo

bench:
	scripts/bench

package:
	scripts/package

man: setup
	cmake -S . -B build >/dev/null
	cmake --build build --target man -- --no-print-directory
	@ls build/man/*.1

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan
