"""The modules refuse to load into any interpreter but CPython 3.10."""

import pathlib
import shutil
import subprocess
import sys

import pytest
import qattrs
import qcaps

LOADER = pathlib.Path(__file__).with_name("load_extension.py")


def other_interpreters():
    found = []
    for name in ("python3.11", "python3.12", "python3.9"):
        path = shutil.which(name)
        if path is None:
            continue
        check = subprocess.run(
            [path, "-c", "import sys; print(sys.version)"], capture_output=True, text=True
        )
        if check.returncode == 0:
            found.append((path, check.stdout.strip()))
    return found


@pytest.mark.parametrize("module", [qcaps, qattrs], ids=lambda m: m.__name__)
def test_other_interpreter_gets_the_version_mismatch_error(module):
    interpreters = other_interpreters()
    if not interpreters:
        pytest.skip("no interpreter other than 3.10 on PATH")
    for interpreter, version in interpreters:
        result = subprocess.run(
            [interpreter, str(LOADER), module.__name__, str(pathlib.Path(module.__file__))],
            capture_output=True,
            text=True,
        )
        assert result.returncode == 3, result.stderr
        assert result.stdout.strip() == (
            "Python version mismatch: module was compiled for Python 3.10, but the "
            f"interpreter version is incompatible: {version}."
        )


def test_this_interpreter_is_310():
    assert sys.version_info[:2] == (3, 10)
