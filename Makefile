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

SOURCES  := CMakeLists.txt pyproject.toml \
            $(shell find onnx catalogue attrs -name '*.cc' -o -name '*.h' -o -name CMakeLists.txt)

.PHONY: help demo test test-native test-python install clean

help:
	@echo "make demo    build, install and run examples/demo.py (TARGET=$(TARGET))"
	@echo "make test    native tests (ctest) and Python tests (pytest)"
	@echo "make clean   remove build outputs and .venv"

# The virtual environment with the build and test tools.
$(VENV)/.tools: requirements-dev.txt tools/find-python310.sh
	@python=$$(tools/find-python310.sh); \
	  if [ ! -x $(VPY) ]; then echo "Creating $(VENV) with $$python"; "$$python" -m venv $(VENV); fi
	$(VPY) -m pip install --quiet --upgrade pip
	$(VPY) -m pip install --quiet -r requirements-dev.txt
	@touch $@

# The package, installed into the environment. Without build isolation the
# build directory under build/ is reused, so only changed sources recompile.
$(VENV)/.installed: $(VENV)/.tools $(SOURCES)
	$(VPY) -m pip install --no-build-isolation --no-deps --quiet \
	  -Ccmake.define.QCAPS_WARNINGS_AS_ERRORS=$(WERROR) .
	@touch $@

install: $(VENV)/.installed

demo: $(VENV)/.installed
	$(VPY) examples/demo.py $(TARGET)

# Native build of the libraries and their GoogleTest suites.
$(NATIVE)/CMakeCache.txt: $(VENV)/.tools
	tools/ensure-gtest.sh
	$(VENV)/bin/cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQCAPS_WARNINGS_AS_ERRORS=$(WERROR)

test-native: $(NATIVE)/CMakeCache.txt
	$(VENV)/bin/cmake --build $(NATIVE)
	$(VENV)/bin/ctest --test-dir $(NATIVE) --output-on-failure

test-python: $(VENV)/.installed
	$(VPY) -m pytest

test: test-native test-python

clean:
	rm -rf build $(VENV)
