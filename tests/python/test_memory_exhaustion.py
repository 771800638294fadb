"""Memory running out under every Python entry point of both modules.

Each entry of exhaustion.ENTRIES runs in a child interpreter with
failing_malloc preloaded: once with every one of its allocations failing in
turn, and once out of address space (RLIMIT_AS), from the main thread and
from a thread that has not called either module before. Each call must
answer correctly or raise MemoryError, and the next call answer correctly;
the child reports what it covered.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

import exhaustion
import heap
import pytest

HERE = pathlib.Path(__file__).resolve().parent

pytestmark = pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""),
    reason="the sanitizers bring their own allocator and reserve the address space",
)


@pytest.fixture(scope="session")
def failing_malloc(tmp_path_factory):
    compiler = shutil.which(os.environ.get("CC", "cc")) or shutil.which("gcc")
    if compiler is None:
        pytest.fail("a C compiler is needed to build failing_malloc.c")
    library = tmp_path_factory.mktemp("failing_malloc") / "libfailing_malloc.so"
    subprocess.run(
        [compiler, "-shared", "-fPIC", "-O1", "-o", library, HERE / "failing_malloc.c"],
        check=True,
    )
    return library


def run_child(library, *args, script=None):
    environment = dict(os.environ, LD_PRELOAD=str(library), PYTHONMALLOC="malloc")
    command = [sys.executable, *(["-c", script] if script else [HERE / "exhaustion.py"]), *args]
    try:
        result = subprocess.run(
            command, capture_output=True, text=True, timeout=120, env=environment
        )
    except subprocess.TimeoutExpired:
        pytest.fail("the child did not finish within 120 s")
    assert result.returncode == 0, (
        f"exit status {result.returncode}\n{result.stdout}{result.stderr}"
    )
    return result.stdout


@pytest.mark.parametrize("entry", exhaustion.ENTRIES)
def test_each_allocation_of_an_entry_fails_in_turn(failing_malloc, entry):
    report = run_child(failing_malloc, "sweep", entry)
    points, errors = map(
        int, re.fullmatch(r".*: (\d+) allocation points, (\d+) MemoryError\n", report).groups()
    )
    # The sweep reached the call's own allocations: some failure surfaced.
    assert points > 0 and errors > 0, report


@pytest.mark.parametrize("thread", [False, True], ids=["main thread", "new thread"])
@pytest.mark.parametrize("entry", exhaustion.ENTRIES)
def test_entry_out_of_address_space(failing_malloc, entry, thread):
    report = run_child(failing_malloc, "limit", *(["--thread"] if thread else []), entry)
    assert re.fullmatch(r".*: \d+ MemoryError before it went through\n", report), report


KEYWORD_MISMATCH = """
import ctypes, qcaps
caps = qcaps.OperatorType('m55')
library = ctypes.CDLL(None)
for n in range(1, 60):
    library.failing_malloc_arm(n)
    try:
        caps.is_input_support(kind='Conv', bogus='int8')
    except (TypeError, MemoryError):
        pass
    library.failing_malloc_disarm()
"""


def test_keyword_mismatch_with_memory_running_out(failing_malloc):
    # A call that names a parameter by keyword but does not fit the method
    # never reaches pybind11's dispatcher, which would use its copy of the
    # keywords without checking that it was made.
    run_child(failing_malloc, script=KEYWORD_MISMATCH)


PROBE = """
import ctypes, threading, qcaps
library = ctypes.CDLL(None)
library.failing_malloc_arm_size.argtypes = [ctypes.c_size_t]
caps = qcaps.OperatorType('m55')
def attempt():
    library.failing_malloc_arm_size(16384)  # the size of a new thread's probe
    try:
        answer = caps.is_output_support('Conv', 'int32')
    except MemoryError:
        answer = 'MemoryError'
    print(answer, library.failing_malloc_disarm())
def first_calls():
    attempt()
    attempt()
    print(caps.is_output_support('Conv', 'int32'))
    attempt()
thread = threading.Thread(target=first_calls)
thread.start()
thread.join()
"""


def test_thread_without_memory_for_its_probe_stays_unprepared(failing_malloc):
    # A thread's first call probes for memory before the thread's first C++
    # exception: without it the call raises MemoryError and the next call
    # probes again; once a call has gone through, no call probes.
    report = run_child(failing_malloc, script=PROBE)
    assert report.split("\n") == ["MemoryError 1", "MemoryError 1", "True", "True 0", ""]


DISCARDED = (
    heap.IN_USE
    + """
import ctypes, gc, sys, qattrs
library = ctypes.CDLL(None)
library.failing_malloc_arm.argtypes = [ctypes.c_long]
class Both(qattrs.QuantizationAttrs, qattrs.CalibrationAttrs): pass
Both.__new__(Both)  # pybind11 records the class's bound bases on first use
def discard(rounds):
    failed = 0
    for _ in range(rounds):
        library.failing_malloc_arm(2)  # the object, then its two-class storage
        try:
            Both.__new__(Both)
        except MemoryError:
            failed += 1
        library.failing_malloc_disarm()
    gc.collect()
    return failed
discard(100)
references, before = sys.getrefcount(Both), heap_in_use()
failed = discard(3000)
print(failed, sys.getrefcount(Both) - references, heap_in_use() - before < 16384)
"""
)


def test_instance_whose_storage_cannot_be_laid_out_is_freed(failing_malloc):
    report = run_child(failing_malloc, script=DISCARDED)
    assert report == "3000 0 True\n"
