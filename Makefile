# Front door: `make demo` and `make test` do everything on a fresh Debian 12 machine (as root).
.PHONY: all build setup test demo bench truth package man fuzz soak lint format clean

# Seconds each fuzz target runs: make fuzz FUZZ_SECONDS=600
FUZZ_SECONDS ?= 60
# Rounds of the fault soak, and the seed of an earlier soak to replay: make soak SOAK_SEED=42
SOAK_ROUNDS ?= 20
SOAK_SEED ?=

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

truth:
	scripts/truth

package:
	scripts/package

man: setup
	cmake -S . -B build >/dev/null
	cmake --build build --target man -- --no-print-directory
	@ls build/man/*.1

fuzz:
	scripts/fuzz $(FUZZ_SECONDS)

soak:
	scripts/soak $(SOAK_ROUNDS) $(SOAK_SEED)

lint:
	scripts/lint

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz
