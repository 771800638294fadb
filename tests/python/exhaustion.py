"""The child side of the memory-exhaustion tests (test_memory_exhaustion.py).

    python exhaustion.py sweep NAME...         fail each allocation of each entry in turn
    python exhaustion.py limit [--thread] NAME...   run each entry out of address space

Both need failing_malloc preloaded and PYTHONMALLOC=malloc, so that the
interpreter's own allocations go through it too. `sweep` fails the n-th
allocation of the call for n = 1, 2, ..., until a call no longer reaches its
n-th. `limit` lowers RLIMIT_AS, has failing_malloc take what is left, and
retries the call, each refused allocation giving a piece back, until the
call goes through; `--thread` runs each entry in a thread that has not called
either module before.

Every outcome must be the entry's own answer (a value, or TypeError where the
arguments are wrong) or MemoryError, and after a MemoryError the next call
must give the answer again. One line per entry reports what was covered; any
other outcome exits with status 1.
"""

import ctypes
import pickle
import resource
import sys
import threading

import qattrs
import qcaps

M55 = qcaps.OperatorType("m55")
QA = qattrs.QuantizationAttrs(123456789)
CA = qattrs.CalibrationAttrs([1, 2, 4, 8, 16, 32] * 4)
# Names no call has seen: each call interns one, and the non-ASCII ones
# need their UTF-8 form made as well.
NEW_NAMES = iter([f"fresh-{i}" for i in range(200_000)])
NEW_WIDE_NAMES = iter([f"Ωmega-{i}" for i in range(200_000)])
LONG_PATTERN = "-" * 5000 + "?"


def conv_outputs(catalogue):
    return catalogue.output_support_types("Conv")


# name: (call, view of its result that is compared)
ENTRIES = {
    **{
        f"OperatorType({target!r})": (lambda t=target: qcaps.OperatorType(t), conv_outputs)
        for target in ["tamsin", "corvel", "pelor", "m55", "unknown"]
    },
    "support_types": (lambda: M55.support_types("Conv", "int8-x-?"), None),
    "support_types, long pattern": (lambda: M55.support_types("Conv", LONG_PATTERN), None),
    "input_support_types": (lambda: M55.input_support_types("Conv", 1), None),
    "input_support_types by keyword": (lambda: M55.input_support_types(kind="Conv", idx=1), None),
    "output_support_types": (lambda: M55.output_support_types("Conv"), None),
    "is_input_support": (lambda: M55.is_input_support("Conv", "int16"), None),
    "is_output_support": (lambda: M55.is_output_support("Conv", "int32"), None),
    "new name": (lambda: M55.output_support_types(next(NEW_NAMES)), None),
    "new non-ASCII name": (lambda: M55.is_input_support(next(NEW_WIDE_NAMES), "int8"), None),
    "name as bytes": (lambda: M55.input_support_types(b"Conv"), None),
    "mismatched arguments": (lambda: M55.support_types(1, 2), None),
    "QuantizationAttrs()": (qattrs.QuantizationAttrs, lambda a: a.get_value),
    "QuantizationAttrs(int)": (lambda: qattrs.QuantizationAttrs(-(2**40)), lambda a: a.get_value),
    "QuantizationAttrs(float)": (lambda: qattrs.QuantizationAttrs(3.0), None),
    "QuantizationAttrs.get_value": (lambda: QA.get_value, None),
    "QuantizationAttrs.set_per_block": (lambda: QA.set_per_block, None),
    "CalibrationAttrs()": (qattrs.CalibrationAttrs, lambda c: c.get_value),
    "CalibrationAttrs(list)": (
        lambda: qattrs.CalibrationAttrs([4, 2**40, -1]),
        lambda c: c.get_value,
    ),
    "CalibrationAttrs(str)": (lambda: qattrs.CalibrationAttrs("12"), None),
    "CalibrationAttrs.get_value": (lambda: CA.get_value, None),
    "CalibrationAttrs.number_of_methods": (lambda: CA.number_of_methods, None),
    "CalibrationAttrs.set_kl": (lambda: qattrs.CalibrationAttrs().set_kl, None),
    "pickle protocol 0": (lambda: pickle.dumps(M55, 0), None),
}


class Fault(Exception):
    pass


def outcome(entry):
    """The entry's answer through its view, or the type of what it raised."""
    call, view = ENTRIES[entry]
    try:
        result = call()
        return view(result) if view else result
    except Exception as error:  # compared below: only MemoryError may differ
        return type(error)


def expect(entry, expected, got, when):
    if got is not MemoryError and got != expected:
        raise Fault(f"{entry}: {got!r} instead of {expected!r} {when}")


def sweep(entry):
    library = ctypes.CDLL(None)
    arm, disarm = library.failing_malloc_arm, library.failing_malloc_disarm
    arm.argtypes, arm.restype = [ctypes.c_long], None

    def stop():
        while True:  # ctypes itself may be what fails
            try:
                return disarm() == 1
            except MemoryError:
                pass

    expected = outcome(entry)
    points = errors = 0
    while True:
        try:
            arm(points + 1)
            got = outcome(entry)
        except MemoryError:
            got = MemoryError
        if not stop():
            break
        points += 1
        expect(entry, expected, got, f"when allocation {points} fails")
        if got is MemoryError:
            errors += 1
            expect(entry, expected, outcome(entry), f"after allocation {points} failed")
    return f"{points} allocation points, {errors} MemoryError"


def address_space():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[0]) * resource.getpagesize()


def under_limit(entry):
    library = ctypes.CDLL(None)
    expected = outcome(entry)
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + (64 << 20), hard))
    errors = 0
    try:
        library.failing_malloc_hold()
        while True:
            try:
                got = outcome(entry)
                if got is not MemoryError:
                    break
                errors = errors + 1
            except MemoryError:
                pass  # the retry loop itself found no memory
    finally:
        while True:  # ctypes itself may find no memory, until pieces come back
            try:
                library.failing_malloc_release()
                break
            except MemoryError:
                pass
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    expect(entry, expected, got, "once memory came back")
    expect(entry, expected, outcome(entry), "after the limit was lifted")
    return f"{errors} MemoryError before it went through"


def in_thread(run, entry):
    report = []

    def target():
        try:
            report.append(run(entry))
        except BaseException as error:
            report.append(error)

    thread = threading.Thread(target=target)
    thread.start()
    while True:  # this thread may wake while the other has memory exhausted
        try:
            thread.join()
            break
        except MemoryError:
            pass
    if isinstance(report[0], BaseException):
        raise report[0]
    return report[0]


def main(argv):
    mode, names = argv[0], argv[1:]
    threaded = "--thread" in names
    names = [n for n in names if n != "--thread"]
    run = sweep if mode == "sweep" else under_limit
    try:
        for name in names:
            result = in_thread(run, name) if threaded else run(name)
            print(f"{name}: {result}", flush=True)
    except Fault as fault:
        print(fault, flush=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
