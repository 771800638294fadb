"""A standing adversary: hypothesis draws campaigns of hostile calls and
class changes, and each runs in a child interpreter (adversary.py) under
PYTHONMALLOC=debug.

A campaign fails when the child crashes, aborts or hangs, or reports a
call that answered or raised other than the rules allow, a class change
that broke the layout rules, or memory that outlived the campaign. The
failure names the broken rule and prints the command that replays the
campaign.

Each family runs a fixed number of examples from a fixed seed, so CI runs
the same campaigns every time. QCAPS_ADVERSARY_EXAMPLES=N runs N examples
per family from a random seed instead; QCAPS_ADVERSARY_RUNS sets how many
times each child repeats its campaign (default 3) before the heap is read.
"""

import json
import os
import pathlib
import re
import shlex
import signal
import subprocess
import sys

import adversary
import catalogue_model as model
import pytest
import qattrs
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

CHILD = pathlib.Path(adversary.__file__)
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")
LONG_RUN = int(os.environ.get("QCAPS_ADVERSARY_EXAMPLES", "0"))
RUNS = int(os.environ.get("QCAPS_ADVERSARY_RUNS", "3"))
# What the heap and the interpreter's blocks may grow by over the runs
# after the first: the interpreter's own caches, never a call's share.
HEAP_SLACK, BLOCK_SLACK = 8 << 10, 20

# --- the values a campaign is made of ---------------------------------------

TEXTS = ["Conv", "Add", "Sigmoid", "Softmax", "GridSample", "ReduceMean", "NoSuchOp", ""]
TEXTS += ["int8", "int16", "float32", "float16", "int8-int8-?", "x-?", "?", "int8-x-?"]
TARGETS = [*model.ALL_TARGETS, "bogus"]
INTS = [0, 1, -1, 2, 5, 4369, 2**31 - 1, 2**31, -(2**31) - 1, 2**63 - 1, -(2**63), 2**63]
EXCEPTIONS = ["Custom", "TypeError", "ValueError", "IndexError", "MemoryError"]
EXCEPTIONS += ["RecursionError", "KeyboardInterrupt", "SystemExit"]
CLASSES = ["QA", "CA", "OT", "M", "A1", "A2", "C1", "O1", "R1", "W1", "N1", "N2"]
SUBCLASSES = ["A1", "A2", "C1", "O1", "R1", "W1", "N1", "N2"]
BOUND = ["QA", "CA", "OT"]
QUERIES = ["is_input_support", "is_output_support", "input_support_types"]
QUERIES += ["output_support_types", "support_types"]
QA_PROPERTIES = [n for n in vars(qattrs.QuantizationAttrs) if not n.startswith("_")]
CA_PROPERTIES = [n for n in vars(qattrs.CalibrationAttrs) if not n.startswith("_")]
ENTRIES = [f"OT.{q}" for q in QUERIES] + [f"QA.{p}" for p in QA_PROPERTIES]
ENTRIES += [f"CA.{p}" for p in CA_PROPERTIES] + ["OT.__init__", "QA.__init__", "CA.__init__"]
ROUTES = ["attr", "class", "pycall", "thread", "partial"]
# The methods whose parameters take keywords, and the routes that hand the
# binding the caller's own dict, drawn more often: most faults live there.
WEIGHTED_ENTRIES = ENTRIES + 6 * ["OT.is_input_support", "OT.input_support_types"]
WEIGHTED_ROUTES = [*ROUTES, "pycall", "thread"]
# entry: its parameters after `self` in its longest overload, as (name or
# None, conversion, whether it has a default), and the entries whose
# parameters, `self` included, take keywords.
PARAMETERS = {
    entry: [(name, conv, default is not adversary.MISSING) for name, conv, default in ps[-1]]
    for entry, (_, ps) in adversary.SIGNATURES.items()
}
NAMED = {entry for entry, (named, _) in adversary.SIGNATURES.items() if named}

subjects = st.one_of(st.integers(0, 12), st.just("fresh"))


def changes():
    """Changes of classes and of what is alive."""
    bases = st.lists(st.sampled_from(CLASSES), min_size=1, max_size=2).map(tuple)
    return st.one_of(
        st.tuples(st.just("move"), st.integers(0, 12), st.sampled_from(SUBCLASSES)),
        st.tuples(st.just("rebase"), st.sampled_from(SUBCLASSES), bases),
        st.tuples(st.just("mro"), st.sampled_from(["W1", "N1", "N2"]), st.sampled_from(BOUND)),
        st.tuples(
            st.just("newclass"),
            st.sampled_from(["N1", "N2"]),
            bases,
            st.sampled_from([None, "R", "W"]),
        ),
        st.tuples(st.just("kill"), st.sampled_from(SUBCLASSES)),
        st.tuples(st.just("drop"), st.integers(0, 12), st.sampled_from([None, "self", "class"])),
        st.tuples(st.just("dropclass"), st.sampled_from(SUBCLASSES)),
        st.tuples(st.just("bare"), st.sampled_from(SUBCLASSES + BOUND)),
        st.just(("collect",)),
        st.tuples(
            st.just("fin"),
            st.integers(0, 12),
            st.sampled_from(["del", "weak"]),
            st.lists(st.sampled_from(["probe", "keep", "collect"]), max_size=2).map(tuple),
        ),
    )


def fragments():
    """Short sequences of changes that lead somewhere: an instance moved to
    a class made for it, which is then rebased; a class rebased, then
    killed with its instances; a metaclass's mro() turned on a class with
    an instance made by __new__ alone."""
    new = st.sampled_from(["N1", "N2"])
    bound = st.sampled_from([*BOUND, "A1", "C1", "O1"])
    return st.one_of(
        st.tuples(new, st.sampled_from(BOUND), bound).map(
            lambda t: [("adopt", t[0], t[1]), ("rebase", t[0], (t[2],))]
        ),
        st.tuples(st.sampled_from(SUBCLASSES), bound).map(
            lambda t: [("rebase", t[0], (t[1],)), ("kill", t[0])]
        ),
        st.tuples(new, bound, st.sampled_from(BOUND)).map(
            lambda t: [("newclass", t[0], (t[1],), "W"), ("bare", t[0]), ("mro", t[0], t[2])]
        ),
    )


def actions(with_changes):
    """What hostile code does before it returns or raises."""
    simple = st.sampled_from(["clear", "collect", "reenter", "probe"])
    return st.one_of(simple, changes()) if with_changes else simple


def hooks(with_changes, outcomes=EXCEPTIONS):
    finalizer = st.none() | st.tuples(
        st.sampled_from(["del", "weak"]), st.lists(actions(with_changes), max_size=2).map(tuple)
    )
    return st.tuples(
        st.lists(actions(with_changes), max_size=2).map(tuple),
        st.none() | st.sampled_from(outcomes),
        finalizer,
    )


def values(conv, hostile, fit=True):
    """An argument for a parameter converted as `conv`: of its type when the
    call is to fit, else of any."""
    hook = hooks(hostile == "changes")
    texts = st.sampled_from(TEXTS + TARGETS)
    integers = st.one_of(
        st.sampled_from(INTS),
        st.tuples(st.just("decimal"), st.sampled_from(["7", "1.5", "-2"])),
        *(
            [st.tuples(st.sampled_from(["index", "number"]), st.sampled_from(INTS), hook)]
            if hostile != "plain"
            else []
        ),
    )
    kinds = {
        "text": st.one_of(
            texts,
            st.tuples(st.sampled_from(["strsub", "bytearray"]), texts),
            texts.map(str.encode),
        ),
        "int32": integers,
        "int64": integers,
        "codes": st.one_of(
            st.tuples(st.sampled_from(["list", "tuple", "deque"]), st.lists(integers, max_size=4)),
            st.tuples(st.just("range"), st.sampled_from([0, 3, 300])),
            st.tuples(
                st.just("seq"),
                st.sampled_from([0, 2, 3, 5]),
                st.lists(st.sampled_from(INTS[:6]), max_size=4),
                hook,
                st.sampled_from(["len", 0, 1, 2]),
            ),
        ),
    }
    other = st.one_of(
        st.sampled_from([None, 1.5, True, [], ("object",)]),
        st.tuples(st.just("named"), st.sampled_from([3, 100, 10**6])),
        *(s for c, s in kinds.items() if c != conv),
    )
    return kinds[conv] if fit else st.one_of(kinds[conv], other)


@st.composite
def arguments(draw, entry, route, hostile):
    """The arguments of a call: each parameter by position, by keyword or
    left to its default; keyword names that are str subclasses or no str;
    `self` placed by the step; sometimes one argument too many."""
    named, fit = entry in NAMED, draw(st.sampled_from([True, True, True, False]))
    args, by_keyword = [], False
    for name, conv, has_default in PARAMETERS.get(entry, []):
        how = draw(st.sampled_from(["position", "keyword", "keyword", "omit"]))
        if how == "omit" and has_default:
            continue
        value = draw(values(conv, hostile, fit))
        if (how == "keyword" or by_keyword) and named:
            by_keyword = True
            args.append((draw(keys(name, route, hostile)), value))
        else:
            args.append((None, value))
    if named and route != "attr" and draw(st.integers(0, 3)) == 0:
        args.insert(
            0, (draw(keys("self", route, hostile)) if draw(st.booleans()) else None, ("self",))
        )
    if not fit and hostile != "plain":
        extra = draw(st.one_of(st.none(), keys("bogus", route, hostile)))
        args.append((extra, draw(values("text", hostile, fit))))
    return args


def keys(name, route, hostile):
    """A keyword name meant for the parameter `name`: the name itself, a str
    subclass of its text or hashing as it, or a name that is no str."""
    if hostile == "plain":
        return st.just(name)
    hook = hooks(False, [*EXCEPTIONS, "True"])
    other = st.sampled_from([name.upper(), "kind", "qtype", "idx", "self", "bogus"])
    choices = [
        st.tuples(st.just("key"), st.just(name), st.sampled_from([name, "zz"]), hook),
        st.tuples(st.just("key"), other, st.just(name), hook),
    ]
    if route in ("pycall", "thread"):
        choices.append(st.tuples(st.just("nonstr"), st.sampled_from([1, name.encode()])))
    return st.one_of(st.just(name), st.just(name), st.just(name), *choices)


@st.composite
def calls(draw, hostile, entries=WEIGHTED_ENTRIES, routes=WEIGHTED_ROUTES):
    entry = draw(st.sampled_from(entries))
    route = draw(st.sampled_from(routes))
    if entry.endswith("__init__"):
        who = draw(st.one_of(st.sampled_from(CLASSES), st.integers(0, 12)))
    else:
        who = draw(subjects)
    step = ("call", who, entry, route, draw(arguments(entry, route, hostile)))
    # "odd": one more tracked object before the call, so that collections
    # fall on the other half of its allocations.
    return (*step, ("odd",)) if draw(st.integers(0, 3)) == 0 else step


# Reads of calibration codes that no list can hold, and a long one that a
# signal must interrupt.
reads = [
    st.tuples(
        st.just("call"),
        st.sampled_from(["CA", "C1"]),
        st.just("CA.__init__"),
        st.sampled_from(["attr", "class"]),
        st.sampled_from(
            [("range", 2**62), ("range", 10**15), ("seq", 2**62, [1, 2], (), None)]
        ).map(lambda value: [(None, value)]),
    ),
    st.just(("call", "CA", "CA.__init__", "attr", [(None, ("range", 2 * 10**7))], ("timer",))),
]
if SANITIZED:
    del reads[0]
# The collector empties the call's containers at its n-th collection during
# the call: the first few fall inside the binding's own allocations.
collector = st.lists(
    st.tuples(st.integers(1, 3), st.just("clear")), min_size=1, max_size=2, unique_by=lambda p: p[0]
)

# Each family attacks one side of the edge; all share the driver.
FAMILIES = {
    # Hostile arguments and keyword names at every entry point and route,
    # the collector emptying the call's own containers.
    "calls": st.fixed_dictionaries(
        {"gc": collector, "steps": st.lists(calls("hooks"), min_size=1, max_size=5)}
    ),
    # Classes changed between calls and from code that runs during them;
    # finalizers, weak references and metaclasses that bring classes back.
    "classes": st.fixed_dictionaries(
        {
            "gc": st.lists(st.tuples(st.integers(1, 4), changes()), max_size=1),
            "steps": st.lists(
                st.one_of(
                    changes().map(lambda step: [step]),
                    fragments(),
                    calls("changes").map(lambda step: [step]),
                    calls("plain", routes=["attr"]).map(lambda step: [step]),
                ),
                min_size=1,
                max_size=6,
            ).map(lambda parts: [step for part in parts for step in part]),
        }
    ),
    # Calibration codes from sequences that lie about their length, shrink
    # while read, never end (a length no list can hold), or take longer than
    # a signal allows. The sanitizers have no address-space limit to stop a
    # read without end.
    "reads": st.fixed_dictionaries(
        {
            "gc": collector,
            "steps": st.lists(
                st.one_of(calls("hooks", ["CA.__init__"], ["attr", "class", "pycall"]), *reads),
                min_size=1,
                max_size=4,
            ),
        }
    ),
}
# Examples per family: about 80 s in all on the development machine; under
# the sanitizers, where each child takes six times as long, a quarter.
EXAMPLES = {"calls": 200, "classes": 200, "reads": 48}
if SANITIZED:
    EXAMPLES = {family: n // 4 for family, n in EXAMPLES.items()}

# --- running a campaign -------------------------------------------------------


class Crashed(AssertionError):
    """The child ended by a signal, or aborted."""


class Hung(AssertionError):
    """The child did not finish."""


class BrokeRule(AssertionError):
    """The child reported a call or a class change the rules do not allow."""


# Categories of the child's report, the gravest first. Each category, and
# within it each detail (the exception raised, the bound class answering,
# the kind of class change, the signal), raises its own class, so that
# hypothesis reports and shrinks each fault apart.
CATEGORIES = {
    "answer": "WrongAnswer",
    "exception": "WrongException",
    "keyword": "KeywordCodeRan",
    "read": "UnboundedRead",
    "message": "UnboundedMessage",
    "layout": "LayoutChanged",
    "leak": "Leaked",
}
FAILURES = {}


def failure(base, name, detail=""):
    name += "_" + re.sub(r"\W", "_", detail) if detail else ""
    return FAILURES.setdefault(name, type(name, (base,), {}))


def literal(value):
    """A Python literal of a campaign, its texts in double quotes, so that a
    shell's single quotes carry it whole."""
    if isinstance(value, str):
        return json.dumps(value)
    if isinstance(value, (list, tuple)):
        items = ", ".join(map(literal, value))
        return f"[{items}]" if isinstance(value, list) else f"({items}{',' * (len(value) == 1)})"
    if isinstance(value, dict):
        return "{" + ", ".join(f"{literal(k)}: {literal(v)}" for k, v in value.items()) + "}"
    return repr(value)


# The interpreter's debug hooks: freed memory is overwritten, and a call of
# its allocator without the interpreter lock ends the process. Under the
# sanitizers, on malloc, so that they see every object. Without glibc's
# per-thread cache, which counts the chunks it holds as in use, malloc's
# count of the bytes in use moves with what is alive alone.
ENVIRONMENT = {
    "PYTHONMALLOC": "malloc_debug" if SANITIZED else "debug",
    "GLIBC_TUNABLES": "glibc.malloc.tcache_count=0",
}


def replay(campaign):
    inherited = ("LD_PRELOAD", "PYTHONPATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")
    environment = {k: os.environ[k] for k in inherited if k in os.environ} | ENVIRONMENT
    settings = " ".join(f"{k}={shlex.quote(v)}" for k, v in environment.items())
    return f"{settings} {sys.executable} {CHILD} {shlex.quote(literal(campaign))}"


def run_campaign(campaign):
    environment = dict(os.environ, **ENVIRONMENT, PYTHONFAULTHANDLER="1")
    if SANITIZED:  # an allocation too large for the sanitizer fails as malloc does
        environment["ASAN_OPTIONS"] = (
            environment.get("ASAN_OPTIONS", "") + ":allocator_may_return_null=1"
        )
    command = [sys.executable, str(CHILD), literal(campaign), str(RUNS)]
    try:
        result = subprocess.run(
            command, capture_output=True, text=True, timeout=120, env=environment
        )
    except subprocess.TimeoutExpired:
        raise Hung(f"the child did not finish within 120 s\nreplay: {replay(campaign)}") from None
    tail = result.stderr[-3000:]
    crashed = ("Fatal Python error", "ERROR: AddressSanitizer", "runtime error:")
    if result.returncode < 0 or any(sign in result.stderr for sign in crashed):
        name = signal.Signals(-result.returncode).name if result.returncode < 0 else "a report"
        text = f"the child ended by {name}\n{tail}\nreplay: {replay(campaign)}"
        raise failure(Crashed, "Crashed", name)(text)
    assert result.returncode == 0, f"the child failed: {result.returncode}\n{tail}"
    report = json.loads(result.stdout.splitlines()[-1])
    violations = report["violations"]
    if not SANITIZED and (report["heap"] > HEAP_SLACK or report["blocks"] > BLOCK_SLACK):
        growth = f"the heap grew by {report['heap']} bytes and the interpreter's blocks by "
        violations.append(["leak", "", growth + f"{report['blocks']} over {RUNS - 1} runs"])
    for category, name in CATEGORIES.items():
        found = [(detail, text) for c, detail, text in violations if c == category]
        if found:
            text = "\n".join(text for _, text in found) + f"\nreplay: {replay(campaign)}"
            raise failure(BrokeRule, name, found[0][0])(text)


@pytest.mark.parametrize("family", FAMILIES)
def test_campaign(family):
    examples = LONG_RUN or EXAMPLES[family]

    @settings(
        max_examples=examples,
        derandomize=not LONG_RUN,
        deadline=None,
        database=None,
        suppress_health_check=list(HealthCheck),
    )
    @given(campaign=FAMILIES[family])
    def campaigns(campaign):
        run_campaign(campaign)

    campaigns()
