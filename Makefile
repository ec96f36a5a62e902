# kestrine: make run | make test | make build | make install
SHELL := /bin/bash
JOBS ?= $(shell nproc)
CMAKE_FLAGS := -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
# CI builds treat every warning as an error.
WERROR := $(if $(CI),ON,OFF)
# CI builds the optimised tree without debug information (a quarter of its compile time)
# and without the benchmarks, which are run by hand; the sanitizer and fuzz builds keep
# their debug information for their reports.
OPT_FLAGS := -O2 $(if $(CI),,-g) -DNDEBUG
BENCH := $(if $(CI),OFF,ON)
TESTDATA_NOTE := $(if $(wildcard ../shared/testdata),,(../shared/testdata is absent: tests that need it skip))

.PHONY: format-check check-includes check-paths check-docs uninstall deps build compile build-asan build-tsan run test test-plain test-asan test-tsan fuzz bench install clean
PREFIX ?= /usr/local

deps:
	@bash tools/install-deps.sh

build: deps
	@$(MAKE) --no-print-directory compile

# The build alone, without looking at the installed packages.
compile:
	@cmake -S . -B build $(CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX="$(PREFIX)" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$(OPT_FLAGS)" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$(OPT_FLAGS)" -DKESTRINE_BENCH=$(BENCH) -DKESTRINE_WERROR=$(WERROR) >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: deps
	@cmake -S . -B build-asan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DKESTRINE_SANITIZE=ON -DKESTRINE_BENCH=OFF -DKESTRINE_WERROR=$(WERROR) >/dev/null
	@cmake --build build-asan -j $(JOBS)

# ThreadSanitizer: the decoder library's engine, ALSA output and reader tests only (no Qt), so
# that the stage costs a few minutes.
build-tsan: deps
	@cmake -S . -B build-tsan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRINE_TSAN=ON -DKESTRINE_APP=OFF -DKESTRINE_BENCH=OFF -DKESTRINE_WERROR=$(WERROR) >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target test_vbmp3_engine test_vbmp3_alsa test_vbmp3_reader

# Starts the player; FILE=path plays that file through the decoder library's
# command-line front end instead.
run: build
	@if [ -x build/bin/kestrine ] && [ -z "$(FILE)" ]; then build/bin/kestrine; \
	 else build/bin/vbmp3play "$(FILE)"; fi

test-plain: build
	@echo "== tests $(TESTDATA_NOTE)"
	@cd build && ctest --output-on-failure -j $(JOBS) --timeout 600

test-asan: build-asan
	@echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 900

test-tsan: build-tsan
	@echo "== the decoder library's engine, ALSA output and reader tests under ThreadSanitizer"
	@cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/vbmp3/tsan.supp" \
	  ctest -R '^test_vbmp3_(engine|alsa|reader)$$' --output-on-failure --timeout 900

# The smoke run of make test gives each target 8 s; FUZZ_SECONDS=N sets another time.
fuzz: deps
	@FUZZ_SECONDS=$${FUZZ_SECONDS:-8} bash tools/fuzz-smoke.sh

# The tree must stay formatted by .clang-format.
format-check: deps
	@git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# No include runs up the folder list of ARCHITECTURE.md.
check-includes:
	@bash tools/check-includes.sh

# No file name of the user's reaches the system through Qt's file classes.
check-paths:
	@bash tools/check-paths.sh

# Every link of the README and docs/ leads somewhere; the README's first screen is whole.
check-docs:
	@python3 tools/check-doc-links.py

test: format-check check-includes check-paths check-docs test-plain test-asan test-tsan fuzz

bench: build
	@bash bench/run-all.sh

# make install [PREFIX=/usr/local] [DESTDIR=staging folder]: never runs the package manager.
install: compile
	@DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

# Removes what the last make install put in place (CMake's list of it).
uninstall:
	@if [ -f build/install_manifest.txt ]; then xargs -r -d '\n' rm -fv < build/install_manifest.txt; \
	 else echo "nothing to uninstall: build/install_manifest.txt is absent"; fi

clean:
	rm -rf build build-asan build-tsan build-fuzz
