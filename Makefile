# Developer commands. `make test` and `make demo` set up everything they need
# on a fresh machine: a CPython 3.10 virtual environment in .venv, the build
# and test tools from PyPI, GoogleTest from Debian's packages, and the package
# itself. A second run rebuilds only what changed.

SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
.DEFAULT_GOAL := help

VENV     := .venv
VPY      := $(VENV)/bin/python
NATIVE   := build/native
# Warnings are errors in every build these commands make.
WERROR   ?= ON
# Target shown by `make demo`.
TARGET   ?= corvel
# Seconds each fuzzer runs under `make fuzz`.
FUZZ_SECONDS ?= 60

# CMake configure with the environment's Ninja; WITH_PYTHON adds the
# extension modules, built against the environment's Python and pybind11.
CONFIGURE   = $(VENV)/bin/cmake -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja)
WITH_PYTHON = -DQCAPS_BUILD_PYTHON=ON -DPython_EXECUTABLE=$(abspath $(VPY)) \
              -Dpybind11_DIR="$$($(VPY) -m pybind11 --cmakedir)"

# Everything the installed package is made from: sources, stubs, the
# companion package, the CMake files, the catalogue's data, and the README
# and changelog that make the long description.
SOURCES  := CMakeLists.txt pyproject.toml README.md CHANGELOG.md LICENSE $(wildcard LICENSES/*) \
            $(wildcard cmake/* docs/catalogue*.json) \
            $(shell find onnx catalogue attrs binding stubs python -name '*.cc' -o -name '*.h' -o -name '*.pyi' \
                      -o -name '*.py' -o -name py.typed -o -name CMakeLists.txt)

.PHONY: help demo install test test-native test-python test-types test-consumer test-examples dist test-dist \
        dist-tools check-reproducible test-aarch64 \
        docs bench lint sanitize fuzz clean

help:
	@echo "Developer commands (each sets up what it needs on first use):"
	@echo
	@echo "  make demo        build, install and run examples/demo.py (TARGET=$(TARGET))"
	@echo "  make install     build and install the package and its test extra into .venv"
	@echo "  make test        native tests (ctest), Python tests (pytest), stubs, consumer, examples"
	@echo "  make dist        sdist and manylinux2014 wheels (x86_64, aarch64) in dist/, from git HEAD"
	@echo "  make test-dist   the wheels as shipped: x86_64 installed and tested, aarch64 under qemu"
	@echo "  make check-reproducible  dist/ built again in a second clone; every file must be equal"
	@echo "  make test-aarch64  the native suites cross-built for aarch64, run under qemu-user"
	@echo "  make docs        regenerate docs/ (support matrix, catalogue.json) and README's tables"
	@echo "  make bench       speed of every query against the binding floor and plain Python"
	@echo "  make lint        clang-format, ruff format, clang-tidy and ruff checks"
	@echo "  make sanitize    native tests and pytest under ASan+UBSan, threads under TSan"
	@echo "  make fuzz        libFuzzer harnesses, FUZZ_SECONDS each (default $(FUZZ_SECONDS))"
	@echo "  make clean       remove build outputs, dist/ and .venv"

# The virtual environment with the build and test tools.
$(VENV)/.tools: requirements-dev.txt tools/find-python310.sh
	@python=$$(tools/find-python310.sh); \
	  if [ ! -x $(VPY) ]; then echo "Creating $(VENV) with $$python"; "$$python" -m venv $(VENV); fi
	$(VPY) -m pip install --quiet --upgrade pip
	$(VPY) -m pip install --quiet -r requirements-dev.txt
	@touch $@

# The package with its test extra, installed into the environment. Without
# build isolation the build directory under build/ is reused, so only changed
# sources recompile.
$(VENV)/.installed: $(VENV)/.tools $(SOURCES)
	$(VPY) -m pip install --no-build-isolation --quiet \
	  -Ccmake.define.QCAPS_WARNINGS_AS_ERRORS=$(WERROR) ".[test]"
	@touch $@

install: $(VENV)/.installed

demo: $(VENV)/.installed
	$(VPY) examples/demo.py $(TARGET)

# Native build of the libraries and their GoogleTest suites. The suite of
# the binding guard embeds an interpreter; no suite loads the extension
# modules, so this build leaves them out.
$(NATIVE)/CMakeCache.txt: $(VENV)/.tools
	tools/ensure-debian-package.sh libgtest-dev /usr/include/gtest/gtest.h
	$(CONFIGURE) -S . -B $(NATIVE) $(WITH_PYTHON) -DQCAPS_BUILD_MODULES=OFF \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQCAPS_WARNINGS_AS_ERRORS=$(WERROR)

# ctest fails when it finds no tests, so that a build that lost its suites
# cannot pass.
CTEST := $(VENV)/bin/ctest --no-tests=error

test-native: $(NATIVE)/CMakeCache.txt
	$(VENV)/bin/cmake --build $(NATIVE)
	$(CTEST) --test-dir $(NATIVE) --output-on-failure

test-python: $(VENV)/.installed
	$(VPY) -m pytest

# The installed stubs against the runtime modules, and the examples and the
# companion package under mypy's strictest settings.
test-types: $(VENV)/.installed
	cd / && $(abspath $(VPY)) -m mypy.stubtest qcaps qattrs
	$(VPY) -m mypy --strict --cache-dir build/mypy examples/ python/

# A native project outside the build tree, configured against an installed
# tree of the libraries and their CMake packages. The installed headers must
# sit under include/qcaps and include/qattrs alone.
test-consumer: test-native
	rm -rf build/install build/consumer
	$(VENV)/bin/cmake --install $(NATIVE) --prefix build/install >/dev/null
	test "$$(ls build/install/include | tr '\n' ' ')" = "qattrs qcaps "
	test -f build/install/share/qcaps/catalogue.json
	$(CONFIGURE) -S tests/consumer -B build/consumer -DCMAKE_PREFIX_PATH=$(abspath build/install)
	$(VENV)/bin/cmake --build build/consumer
	build/consumer/consumer

# The README's commands against the installed package, from outside the
# tree: the installed qcaps-check passes known names and fails on a
# misspelt target and names, and the demo runs.
test-examples: $(VENV)/.installed
	cd / && $(abspath $(VENV))/bin/qcaps-check corvel Conv Relu Softmax GridSample int8 int8-int8-? > /dev/null
	cd / && ! $(abspath $(VENV))/bin/qcaps-check corvell conv i8 > /dev/null
	cd / && $(abspath $(VPY)) $(abspath examples/demo.py) m55 > /dev/null

test: test-native test-python test-types test-consumer test-examples

# --- portable wheels -----------------------------------------------------
# `make dist` builds from the commit at HEAD alone, never from the working
# tree: with the toolchain that the commit's requirements-dist.txt pins (in
# build/dist-tools), from the files git tracks at HEAD, the sdist, and from
# the sdist a wheel for each of WHEEL_ARCHS, compiled by the Zig toolchain
# against glibc 2.17 with LLVM's C++ runtime linked in (cmake/zig.cmake),
# with its bill of materials (the commit's tools/sbom.py), repaired to
# manylinux_2_17 and checked (tests/dist/check_wheels.py: one wheel for each
# architecture). The aarch64 wheel is cross-built. The first failing step of
# any pass stops the build. The release is the same, bit for bit, wherever
# and whenever it is built: every timestamp is SOURCE_DATE_EPOCH, the
# commit's time unless given, and files are written under umask 022.

DIST        := dist
DIST_TOOLS  := build/dist-tools
DIST_PY     := $(DIST_TOOLS)/bin/python
RELEASE     := build/release
WHEEL_ARCHS := x86_64 aarch64
ZIG_GLIBC   := 2.17
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct)
# The zig binary that the ziglang package carries.
ZIG_BINARY   = $$($(DIST_PY) -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')

# The release toolchain, brought to the pins of the commit at HEAD whatever
# the working tree's requirements-dist.txt says: pins.txt holds the pins it
# was installed from, and other pins are installed over them.
dist-tools:
	@python=$$(tools/find-python310.sh); \
	  if [ ! -x $(DIST_PY) ]; then echo "Creating $(DIST_TOOLS) with $$python"; "$$python" -m venv $(DIST_TOOLS); fi
	@git show HEAD:requirements-dist.txt > $(DIST_TOOLS)/pins.new
	@if cmp -s $(DIST_TOOLS)/pins.new $(DIST_TOOLS)/pins.txt; then rm $(DIST_TOOLS)/pins.new; else \
	  echo "Installing the pins of HEAD's requirements-dist.txt into $(DIST_TOOLS)"; \
	  $(DIST_PY) -m pip install --quiet -r $(DIST_TOOLS)/pins.new; \
	  mv $(DIST_TOOLS)/pins.new $(DIST_TOOLS)/pins.txt; fi

# auditwheel offers only the build machine's architecture to --plat, so the
# aarch64 wheel is repaired to the tag it satisfies, and check_wheels.py
# then refuses any tag but manylinux_2_17: a newer symbol fails the build
# either way.
#
# Each pass's steps are separate commands, so that under `set -e` the first
# failure ends the recipe (a failure inside an `a && b` chain would not).
dist: dist-tools
	rm -rf $(DIST) $(RELEASE)
	umask 022 && mkdir -p $(RELEASE)/tracked && git archive HEAD | tar -x -C $(RELEASE)/tracked
	umask 022 && export SOURCE_DATE_EPOCH=$(SOURCE_DATE_EPOCH) && \
	  $(DIST_PY) -m build --sdist --no-isolation --outdir $(DIST) $(RELEASE)/tracked
	umask 022 && mkdir $(RELEASE)/sdist && tar -xzf $(DIST)/*.tar.gz -C $(RELEASE)/sdist
	umask 022; export SOURCE_DATE_EPOCH=$(SOURCE_DATE_EPOCH); zig=$(ZIG_BINARY); \
	commit=$$(git rev-parse HEAD); \
	for arch in $(WHEEL_ARCHS); do \
	  $(DIST_PY) $(RELEASE)/tracked/tools/sbom.py --arch $$arch --commit $$commit \
	    --epoch $(SOURCE_DATE_EPOCH) --zig "$$zig" $(RELEASE)/sbom-$$arch.cdx.json; \
	  ( cd $(RELEASE)/sdist/*/; \
	    QCAPS_ZIG="$$zig" QCAPS_ZIG_TARGET=$$arch-linux-gnu.$(ZIG_GLIBC) \
	    _PYTHON_HOST_PLATFORM=linux-$$arch SETUPTOOLS_EXT_SUFFIX=.cpython-310-$$arch-linux-gnu.so \
	    $(abspath $(DIST_PY)) -m pip wheel --quiet --no-build-isolation --no-deps \
	      --wheel-dir $(abspath $(RELEASE))/wheels/$$arch \
	      --config-settings=build-dir=build/zig-$$arch \
	      --config-settings=cmake.define.CMAKE_TOOLCHAIN_FILE=cmake/zig.cmake \
	      --config-settings=cmake.define.QCAPS_SBOM=$(abspath $(RELEASE))/sbom-$$arch.cdx.json \
	      --config-settings=cmake.define.QCAPS_WARNINGS_AS_ERRORS=$(WERROR) . ); \
	  if [ $$arch = "$$(uname -m)" ]; then plat=manylinux_2_17_$$arch; else plat=auto; fi; \
	  PATH="$(abspath $(DIST_TOOLS))/bin:$$PATH" auditwheel repair --plat $$plat \
	    --wheel-dir $(DIST) $(RELEASE)/wheels/$$arch/*.whl 2>&1 | { grep -v '^INFO:' || true; }; \
	done
	$(DIST_PY) tests/dist/check_wheels.py $(addprefix --arch ,$(WHEEL_ARCHS)) $(DIST)/*.whl

# The release built again in a second clone that differs in everything that
# must not matter: a longer path, umask 002, a Zig cache of its own,
# SOURCE_DATE_EPOCH given rather than taken from the commit, a later time,
# untracked files lying in its tree, and uncommitted edits to what the
# release is made from (the version, the toolchain's pins, the bill of
# materials' writer, the catalogue's data), each of which would change or
# break the release if the working tree were read. The clone uses this
# checkout's release toolchain, which is what the commit pins. Every file
# must equal the one that `make dist` left in dist/; on a difference the
# members that differ are shown (tools/compare_releases.py).
REBUILD := build/rebuild/a-second-clone-at-a-longer-path-to-prove-paths-do-not-matter

check-reproducible: dist-tools
	@test -n "$$(ls $(DIST)/*.whl 2>/dev/null)" || { echo "no release in $(DIST)/: run make dist first"; exit 1; }
	rm -rf build/rebuild
	git clone --quiet --no-local --no-checkout . $(REBUILD)
	cd $(REBUILD) && git checkout --quiet "$$(git -C $(CURDIR) rev-parse HEAD)"
	echo "stray notes" > $(REBUILD)/NOTES.txt && cp $(REBUILD)/LICENSE $(REBUILD)/catalogue/python/stray.so
	cd $(REBUILD) && sed -i 's/^version = ".*"$$/version = "9.9.9"/' pyproject.toml && \
	  echo "ziglang==0.0.0" >> requirements-dist.txt && \
	  echo 'raise SystemExit("the working tree'"'"'s sbom.py ran")' >> tools/sbom.py && \
	  echo "{}" > docs/catalogue.json && ! git diff --quiet
	cd $(REBUILD) && umask 002 && ZIG_GLOBAL_CACHE_DIR=$(abspath build/rebuild)/zig-cache \
	  SOURCE_DATE_EPOCH=$(SOURCE_DATE_EPOCH) $(MAKE) --no-print-directory dist \
	    DIST_TOOLS=$(abspath $(DIST_TOOLS)) > ../rebuild.log 2>&1 \
	  || { tail -40 ../rebuild.log; exit 1; }
	$(DIST_PY) tools/compare_releases.py $(DIST) $(REBUILD)/$(DIST)

# The x86_64 wheel with its test extra in a fresh environment, tested from a
# directory outside the source tree; its qcaps-check run from outside the
# tree, from that environment and from a `pip install --user` (under a user
# base of its own) into the interpreter itself; the aarch64 build checked under
# qemu-user (test-aarch64); the wheels' own checks, with the aarch64 modules
# loaded by Debian's arm64 interpreter; and a wheel built from the sdist in
# an empty directory with the system's compiler, as pip does elsewhere.
DIST_VENV := build/dist-venv

test-dist: dist test-aarch64
	rm -rf $(DIST_VENV)
	"$$(tools/find-python310.sh)" -m venv $(DIST_VENV)
	$(DIST_VENV)/bin/python -m pip install --quiet "$$(ls $(DIST)/*manylinux_2_17_x86_64.whl)[test]"
	cd "$$(mktemp -d)" && QCAPS_EXPECT_MODULES_IN=$(abspath $(DIST_VENV)) \
	  $(abspath $(DIST_VENV))/bin/python -m pytest -p no:cacheprovider $(abspath tests/python)
	cd / && $(abspath $(DIST_VENV))/bin/python -m mypy.stubtest qcaps qattrs
	cd / && $(abspath $(DIST_VENV))/bin/qcaps-check corvel Conv int8 int8-int8-? > /dev/null
	rm -rf build/user-base
	PYTHONUSERBASE=$(abspath build/user-base) "$$(tools/find-python310.sh)" -m pip install --quiet \
	  --user --no-deps "$$(ls $(DIST)/*manylinux_2_17_x86_64.whl)"
	cd / && PYTHONUSERBASE=$(abspath build/user-base) $(abspath build/user-base)/bin/qcaps-check \
	  corvel Conv int8 int8-int8-? > /dev/null
	cd / && ! PYTHONUSERBASE=$(abspath build/user-base) $(abspath build/user-base)/bin/qcaps-check \
	  corvell conv i8 > /dev/null
	tools/arm64-python.sh build/aarch64/python
	$(DIST_PY) tests/dist/check_wheels.py $(addprefix --arch ,$(WHEEL_ARCHS)) \
	  --arm64-python $(abspath build/aarch64/python) $(DIST)/*.whl
	cd "$$(mktemp -d)" && "$$($(abspath tools/find-python310.sh))" -m pip wheel --quiet --no-deps \
	  "$$(ls $(abspath $(DIST))/*.tar.gz)" && echo "the sdist builds with the system compiler"

# The native suites cross-built for aarch64 with the wheels' toolchain, and
# run under qemu-user with Debian's arm64 C library; GoogleTest is built for
# aarch64 from the sources that Debian's libgtest-dev ships.
AARCH64_ENV = QCAPS_ZIG=$(ZIG_BINARY) QCAPS_ZIG_TARGET=aarch64-linux-gnu.$(ZIG_GLIBC)
AARCH64_CMAKE = $(DIST_TOOLS)/bin/cmake -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(DIST_TOOLS))/bin/ninja \
                -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/zig.cmake)

test-aarch64: dist-tools
	tools/ensure-debian-package.sh libgtest-dev /usr/src/googletest/CMakeLists.txt
	tools/ensure-debian-package.sh qemu-user /usr/bin/qemu-aarch64
	tools/ensure-debian-package.sh libc6-arm64-cross /usr/aarch64-linux-gnu/lib/ld-linux-aarch64.so.1
	$(AARCH64_ENV) $(AARCH64_CMAKE) -S /usr/src/googletest -B build/aarch64/gtest -DCMAKE_BUILD_TYPE=Release \
	  -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX=$(abspath build/aarch64/gtest-install) >/dev/null
	$(AARCH64_ENV) $(DIST_TOOLS)/bin/cmake --build build/aarch64/gtest --target install >/dev/null
	$(AARCH64_ENV) $(AARCH64_CMAKE) -S . -B build/aarch64/native -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQCAPS_WARNINGS_AS_ERRORS=$(WERROR) -DCMAKE_PREFIX_PATH=$(abspath build/aarch64/gtest-install) \
	  "-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-aarch64;-L;/usr/aarch64-linux-gnu" >/dev/null
	$(AARCH64_ENV) $(DIST_TOOLS)/bin/cmake --build build/aarch64/native
	$(DIST_TOOLS)/bin/ctest --no-tests=error --test-dir build/aarch64/native --output-on-failure -j2

# The support matrix and the catalogue's data under docs/, and the README's
# tables of targets, generated from the catalogue's tables.
docs: $(NATIVE)/CMakeCache.txt
	$(VENV)/bin/cmake --build $(NATIVE) --target support_matrix
	mkdir -p docs
	$(NATIVE)/tools/support_matrix/support_matrix docs README.md

clean:
	rm -rf build $(DIST) $(VENV)

# --- benchmarks --------------------------------------------------------------
# One table: each query and constructor from Python against the binding floor
# and a plain-Python implementation over the same tables, with the native
# Google Benchmark figures beside them.

bench: $(VENV)/.installed
	tools/ensure-debian-package.sh libbenchmark-dev /usr/include/benchmark/benchmark.h
	$(CONFIGURE) -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DQCAPS_BUILD_BENCHMARKS=ON -DQCAPS_WARNINGS_AS_ERRORS=$(WERROR) $(WITH_PYTHON) >/dev/null
	$(VENV)/bin/cmake --build build/bench --target native_bench qcaps_floor support_matrix
	build/bench/benchmarks/native_bench --benchmark_min_time=0.2 \
	  --benchmark_out=build/bench/native.json --benchmark_out_format=json >/dev/null 2>&1
	build/bench/tools/support_matrix/support_matrix --json > build/bench/tables.json
	$(VPY) benchmarks/bench.py --floor-dir build/bench/benchmarks \
	  --tables build/bench/tables.json --native build/bench/native.json

# --- lint ------------------------------------------------------------------
# Formatting (clang-format, ruff format), clang-tidy with the committed
# .clang-tidy files (warnings are errors), and ruff's checks.

CXX_SOURCES = $(shell git ls-files '*.cc' '*.h')
TIDY_SOURCES = $(shell git ls-files '*.cc' | grep -v '^fuzz/')

# clang-tidy reports how many warnings it generated, filtered or not: only
# the warnings themselves are worth printing.
TIDY_QUIET = { grep -v -E '^[0-9]+ warnings? generated\.$$' || true; }

lint: $(VENV)/.tools
	@tools/ensure-debian-package.sh clang-tidy /usr/bin/clang-tidy
	@tools/ensure-debian-package.sh libgtest-dev /usr/include/gtest/gtest.h
	@tools/ensure-debian-package.sh libbenchmark-dev /usr/include/benchmark/benchmark.h
	@echo "clang-format: $(words $(CXX_SOURCES)) files"
	@$(VENV)/bin/clang-format --dry-run --Werror $(CXX_SOURCES)
	@echo "ruff format and ruff check"
	@$(VENV)/bin/ruff format --check --quiet .
	@$(VENV)/bin/ruff check --quiet .
	@$(CONFIGURE) -S . -B build/lint -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
	  -DQCAPS_BUILD_BENCHMARKS=ON $(WITH_PYTHON) >/dev/null
	@echo "clang-tidy: $(words $(TIDY_SOURCES)) files and the fuzzers"
	@echo $(TIDY_SOURCES) | xargs -n1 -P2 clang-tidy -p build/lint --quiet 2>&1 | $(TIDY_QUIET)
	@for f in fuzz/*.cc; do clang-tidy --quiet $$f -- -std=c++17 -I. 2>&1 | $(TIDY_QUIET) || exit 1; done
	@echo "lint: clean"

# --- sanitizers --------------------------------------------------------------
# ASan+UBSan: every native test, the allocation-failure sweeps (with their
# counts), then the whole pytest suite against modules built with the same
# sanitizers; the C++ runtime is preloaded beside ASan's, which otherwise
# finds no C++ runtime to intercept exceptions in; the companion package
# is put together with its data as the wheel installs it. The interpreter
# allocates from the C heap there (PYTHONMALLOC=malloc), where LeakSanitizer
# can see its objects: an instance the interpreter still holds at exit keeps
# its object reachable, as it does, and only what nothing holds is reported.
# TSan: the concurrency suites.

ASAN_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
TSAN_FLAGS := -fsanitize=thread -fno-omit-frame-pointer
SAN_ENV    := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
              UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
              LSAN_OPTIONS=suppressions=$(abspath tools/lsan-python.supp):print_suppressions=0

sanitize: $(VENV)/.tools
	tools/ensure-debian-package.sh libgtest-dev /usr/include/gtest/gtest.h
	$(CONFIGURE) -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQCAPS_WARNINGS_AS_ERRORS=$(WERROR) -DCMAKE_CXX_FLAGS="$(ASAN_FLAGS)" $(WITH_PYTHON)
	$(VENV)/bin/cmake --build build/asan
	$(SAN_ENV) $(CTEST) --test-dir build/asan --output-on-failure
	$(SAN_ENV) build/asan/tests/native/alloc_failure_first_calls_test | grep -E 'alloc points|PASSED'
	$(SAN_ENV) build/asan/tests/native/alloc_failure_test | grep -E 'alloc points|PASSED'
	rm -rf build/asan/python && mkdir -p build/asan/python && cp -r python/qcaps_catalogue build/asan/python/
	cp docs/catalogue.json docs/catalogue.schema.json build/asan/python/qcaps_catalogue/
	$(SAN_ENV) LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libstdc++.so)" \
	  PYTHONPATH=$(abspath build/asan/catalogue/python):$(abspath build/asan/attrs):$(abspath build/asan/python) \
	  QCAPS_EXPECT_MODULES_IN=$(abspath build/asan) PYTHONMALLOC=malloc $(VPY) -m pytest -p no:cacheprovider
	$(CONFIGURE) -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQCAPS_WARNINGS_AS_ERRORS=$(WERROR) -DCMAKE_CXX_FLAGS="$(TSAN_FLAGS)"
	$(VENV)/bin/cmake --build build/tsan --target interning_threads_test concurrency_stress_test
	TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/native/interning_threads_test
	TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/native/concurrency_stress_test

# --- fuzzing -----------------------------------------------------------------
# Each harness runs FUZZ_SECONDS from the committed seeds; what it learns is
# kept under build/fuzz, never written back into fuzz/corpus. Inputs are
# capped at 1 KiB, past which the checks only slow the search. The interning
# harness keeps every name it interns, as the process-wide table does, so its
# memory grows with the run (about 1 GB for 20 s): the limit is raised to match.

FUZZERS    := combination_fuzzer interning_fuzzer
FUZZ_FLAGS := -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I.
FUZZ_LIBS  := catalogue/operator_type.cc onnx/common/interned_strings.cc

build/fuzz/.clang:
	tools/ensure-clang.sh
	@mkdir -p build/fuzz && touch $@

build/fuzz/%: fuzz/%.cc $(FUZZ_LIBS) catalogue/operator_type.h onnx/common/interned_strings.h build/fuzz/.clang
	clang++ $(FUZZ_FLAGS) $< $(FUZZ_LIBS) -o $@

fuzz: $(addprefix build/fuzz/,$(FUZZERS))
	@for f in $(FUZZERS); do \
	  corpus=build/fuzz/corpus/$${f%_fuzzer}; mkdir -p $$corpus build/fuzz/artifacts; \
	  echo "== $$f for $(FUZZ_SECONDS) s"; \
	  build/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -rss_limit_mb=8192 -max_len=1024 \
	    -artifact_prefix=build/fuzz/artifacts/ $$corpus fuzz/corpus/$${f%_fuzzer} 2>&1 \
	    | grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss|Done|==[0-9]+==ERROR|SUMMARY)' ; \
	done
