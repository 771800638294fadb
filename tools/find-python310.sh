#!/usr/bin/env bash
# Prints the absolute path of a CPython 3.10 interpreter, looking at $PYTHON,
# then python3.10 on PATH, then pyenv's 3.10. Exits 1 with advice if none.
set -u

is_cpython310() {
  "$1" -c 'import platform, sys
sys.exit(0 if sys.version_info[:2] == (3, 10) and platform.python_implementation() == "CPython" else 1)' \
    >/dev/null 2>&1
}

executable_of() { "$1" -c 'import sys; print(sys.executable)'; }

if [ -n "${PYTHON:-}" ]; then
  if is_cpython310 "$PYTHON"; then
    executable_of "$PYTHON"
    exit 0
  fi
  echo "error: PYTHON=$PYTHON is not a working CPython 3.10 interpreter." >&2
  exit 1
fi

# A pyenv shim named python3.10 is on PATH even when 3.10 is not the active
# version, and then fails: try it, and fall back to pyenv's own prefix.
if command -v python3.10 >/dev/null 2>&1 && is_cpython310 python3.10; then
  executable_of python3.10
  exit 0
fi

if command -v pyenv >/dev/null 2>&1; then
  prefix=$(pyenv prefix 3.10 2>/dev/null | head -n 1)
  if [ -n "$prefix" ] && is_cpython310 "$prefix/bin/python3.10"; then
    echo "$prefix/bin/python3.10"
    exit 0
  fi
fi

cat >&2 <<'MSG'
error: no CPython 3.10 interpreter found.
The qcaps and qattrs modules are built for CPython 3.10 only. Install it, for
example with `pyenv install 3.10` or your distribution's python3.10 and
python3.10-venv packages, or point PYTHON at one:
    make test PYTHON=/path/to/python3.10
MSG
exit 1
