# `make run`  : installs what is missing, builds the program and runs the main job
#               (an unattended rip of a generated disc image, headless).
# `make test` : installs what is missing, builds with AddressSanitizer and
#               UndefinedBehaviorSanitizer (the benchmarks too, so they always build)
#               and runs every test.
# `make tsan` : the threaded tests under ThreadSanitizer.
# `make fuzz` : the libFuzzer targets (clang), each run briefly.
# `make release-test`: every test once more in an optimised build with the debug information
#               the exception logger reads (RelWithDebInfo), as a distribution builds it.
# `make bench`: the benchmarks, in a Release build.
JOBS ?= $(shell nproc)
CMAKE_GEN = -G Ninja

.PHONY: deps test tsan fuzz bench run release release-test clean

deps:
	@scripts/install-deps

test: deps
	cmake -S . -B build/asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=address,undefined \
	  -DQV_BENCH=ON
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ctest --output-on-failure -j $(JOBS) --timeout 600

tsan: deps
	cmake -S . -B build/tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=thread -DQV_THREADED_ONLY=ON
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -L threaded --timeout 600

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DQV_SANITIZE=address,undefined -DQV_FUZZ=ON
	cmake --build build/fuzz -j $(JOBS) --target fuzz_all
	cd build/fuzz && ctest --output-on-failure -j $(JOBS) -L fuzz --no-tests=ignore

release: deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQV_BENCH=ON
	cmake --build build/release -j $(JOBS)

release-test: deps
	cmake -S . -B build/relwithdebinfo $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/relwithdebinfo -j $(JOBS)
	cd build/relwithdebinfo && ctest --output-on-failure -j $(JOBS) --timeout 600

bench: release
	@set -e; for b in build/release/bin/bench_*; do [ -x "$$b" ] && "$$b"; done; true

# Only what the main job runs: the program (with its ripping library) and the two tools
# that make its disc image and database entry; no test program or benchmark.
run: deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQV_BENCH=ON
	cmake --build build/release -j $(JOBS) --target main_job
	scripts/run-main-job build/release

clean:
	rm -rf build
