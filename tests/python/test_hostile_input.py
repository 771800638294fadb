"""Arbitrary objects thrown at every method and constructor of both modules.

Each call must either answer correctly or raise TypeError, and the
interpreter must survive to run the next example.
"""

import sys

import catalogue_model as model
import pytest
import qattrs
import qcaps
from hypothesis import given
from hypothesis import strategies as st

INT32 = 2**31
INT64 = 2**63


class RaisingIndex:
    def __index__(self):
        raise RuntimeError("__index__ fails")


class RaisingInt:
    def __int__(self):
        raise ValueError("__int__ fails")


class GoodIndex:
    def __index__(self):
        return 1


# Every text, lone surrogates and NULs included.
any_text = st.text(alphabet=st.characters(blacklist_categories=()), max_size=40)
boundary_ints = st.sampled_from(
    [
        0,
        1,
        -1,
        INT32 - 1,
        INT32,
        -INT32,
        -INT32 - 1,
        INT64 - 1,
        INT64,
        -INT64,
        -INT64 - 1,
        2**64,
        2**64 - 1,
        2**100,
        -(2**100),
    ]
)
hostile = st.one_of(
    any_text,
    st.sampled_from(
        [
            "Conv",
            "conv",
            "Sigmoid",
            "int8",
            "int16-?",
            "?",
            "\x00",
            "Conv\x00",
            "\udc80",
            "\ud800Conv",
            "x" * 2**20,
            "Conv" + "\x00" * 2**20,
        ]
    ),
    st.binary(max_size=20),
    st.integers(),
    boundary_ints,
    st.floats(allow_nan=True),
    st.none(),
    st.booleans(),
    st.lists(st.one_of(st.integers(), st.text(max_size=3), st.none(), st.floats()), max_size=4),
    st.tuples(st.integers(), st.text(max_size=3)),
    st.builds(RaisingIndex),
    st.builds(RaisingInt),
    st.builds(GoodIndex),
    st.just(object()),
    st.just(sys),
    st.just([]),
    st.just({}),
    st.just(set()),
)

CATALOGUES = {name: qcaps.OperatorType(name) for name in [*model.ALL_TARGETS, "bogus"]}
QUERIES = {
    "is_input_support": 3,
    "is_output_support": 2,
    "input_support_types": 2,
    "output_support_types": 1,
    "support_types": 2,
}


def as_name(value):
    """The text pybind11 makes of an accepted name argument, or None."""
    if isinstance(value, str):
        return value
    if isinstance(value, (bytes, bytearray)):
        return bytes(value).decode("utf-8", "surrogateescape")
    return None


def known_answer(target, method, args):
    """The model's answer for operators the sample knows, else None."""
    combos = dict(model.sample(target)).get(as_name(args[0])) if target != "bogus" else set()
    if combos is None:
        return None
    second = as_name(args[1]) if len(args) > 1 else None
    idx = args[-1] if method in ("is_input_support", "input_support_types") else None
    if method == "output_support_types":
        return model.output_support_types(combos)
    if method == "is_output_support":
        return second in model.output_support_types(combos)
    if method == "support_types":
        return model.support_types(combos, second)
    if method == "input_support_types":
        return model.input_support_types(combos, int(idx))
    return second in model.input_support_types(combos, int(idx))


@pytest.mark.parametrize("method", sorted(QUERIES))
@given(target=st.sampled_from(sorted(CATALOGUES)), args=st.lists(hostile, min_size=0, max_size=4))
def test_queries_answer_or_raise_type_error(method, target, args):
    catalogue = CATALOGUES[target]
    try:
        result = getattr(catalogue, method)(*args)
    except TypeError:
        return
    arity = QUERIES[method]
    has_idx = method in ("is_input_support", "input_support_types")
    assert len(args) == arity or (has_idx and len(args) == arity - 1)
    if has_idx and len(args) == arity - 1:
        args = [*args, 0]
    if method.startswith("is_"):
        assert type(result) is bool
    else:
        assert type(result) is set and all(type(t) is str for t in result)
    expected = known_answer(target, method, args)
    if expected is not None:
        assert result == expected
    # Deterministic: the same call answers the same.
    assert getattr(catalogue, method)(*args) == result


@given(args=st.lists(hostile, max_size=3))
def test_operator_type_constructor_answers_or_raises_type_error(args):
    try:
        catalogue = qcaps.OperatorType(*args)
    except TypeError:
        return
    assert len(args) == 1 and as_name(args[0]) is not None
    empty = as_name(args[0]) not in model.ALL_TARGETS
    assert (catalogue.output_support_types("Softmax") == set()) == empty


@given(args=st.lists(hostile, max_size=3))
def test_quantization_attrs_constructor(args):
    try:
        attrs = qattrs.QuantizationAttrs(*args)
    except TypeError:
        return
    assert len(args) <= 1
    assert -INT64 <= attrs.get_value < INT64
    if args and isinstance(args[0], int):
        assert attrs.get_value == args[0]


@given(args=st.lists(hostile, max_size=3))
def test_calibration_attrs_constructor(args):
    try:
        calib = qattrs.CalibrationAttrs(*args)
    except TypeError:
        return
    assert len(args) <= 1
    codes = calib.get_value
    assert calib.number_of_methods == len(codes)
    assert all(type(c) is int and -INT64 <= c < INT64 for c in codes)
    if args and isinstance(args[0], (list, tuple)):
        assert codes == [int(c) for c in args[0]]


@given(first=st.sampled_from(model.ALL_TARGETS), second=hostile)
def test_second_init_leaves_the_catalogue_as_it_was(first, second):
    catalogue = qcaps.OperatorType(first)
    before = catalogue.input_support_types("Conv", 1)
    try:
        catalogue.__init__(second)
    except TypeError:
        pass
    assert catalogue.input_support_types("Conv", 1) == before


@given(first=st.integers(-INT64, INT64 - 1), second=hostile)
def test_second_init_leaves_the_flag_word_as_it_was(first, second):
    attrs = qattrs.QuantizationAttrs(first)
    try:
        attrs.__init__(second)
    except TypeError:
        pass
    assert attrs.get_value == first


class SkipsInit(qcaps.OperatorType):
    def __init__(self):  # never calls the base __init__
        pass


class SkipsInitAttrs(qattrs.QuantizationAttrs):
    def __init__(self):
        pass


@pytest.mark.parametrize("cls", [SkipsInit, SkipsInitAttrs])
def test_subclass_that_skips_init_is_refused(cls):
    with pytest.raises(TypeError, match="__init__\\(\\) must be called"):
        cls()


QATTRS_PROPERTIES = {
    qattrs.QuantizationAttrs: [n for n in vars(qattrs.QuantizationAttrs) if not n.startswith("_")],
    qattrs.CalibrationAttrs: [n for n in vars(qattrs.CalibrationAttrs) if not n.startswith("_")],
}


@pytest.mark.parametrize(
    "cls", [qcaps.OperatorType, qattrs.QuantizationAttrs, qattrs.CalibrationAttrs]
)
def test_instances_made_without_init_refuse_every_use(cls):
    # __new__ alone leaves no native object behind the instance.
    bare = cls.__new__(cls)
    if cls is qcaps.OperatorType:
        calls = [
            lambda: bare.input_support_types("Conv"),
            lambda: bare.support_types("Conv", "?"),
            lambda: bare.is_input_support("Conv", "int8"),
            lambda: bare.is_output_support("Conv", "int8"),
            lambda: bare.output_support_types("Conv"),
        ]
    else:
        calls = [lambda name=name: getattr(bare, name) for name in QATTRS_PROPERTIES[cls]]
    for call in calls:
        with pytest.raises(TypeError, match="incompatible function arguments"):
            call()
    # A later __init__ still makes it usable.
    bare.__init__(*(["corvel"] if cls is qcaps.OperatorType else []))
    if cls is qcaps.OperatorType:
        assert bare.input_support_types("Conv", 1) == {"float32", "int8"}
    else:
        assert bare.get_value in (4369, [])


@given(reads=st.lists(st.sampled_from(QATTRS_PROPERTIES[qattrs.CalibrationAttrs]), max_size=30))
def test_property_reads_never_fail(reads):
    calib = qattrs.CalibrationAttrs()
    for name in reads:
        getattr(calib, name)
    assert calib.number_of_methods == sum(name.startswith("set_") for name in reads)


def _incompatible(name, kind, signatures, invoked):
    lines = "".join(f"    {n}. {s}\n" for n, s in enumerate(signatures, 1))
    return (
        f"{name}(): incompatible {kind} arguments. The following argument types are "
        f"supported:\n{lines}\nInvoked with: {invoked}"
    )


_CORVEL = qcaps.OperatorType("corvel")
_SELF = "self: qcaps.OperatorType"
# The whole message of a call that fits no overload, for each method and
# constructor, as pybind11 2.11 words it, but for how arguments are shown:
# without running their code, and `self` and other objects by type alone.
MISMATCH_MESSAGES = {
    "OperatorType()": (
        lambda: qcaps.OperatorType(7),
        _incompatible("__init__", "constructor", ["qcaps.OperatorType(arg0: str)"], "7"),
    ),
    "is_input_support": (
        lambda: _CORVEL.is_input_support("Conv", None, idx=1.5),
        _incompatible(
            "is_input_support",
            "function",
            [f"({_SELF}, kind: str, qtype: str, idx: int = 0) -> bool"],
            "<qcaps.OperatorType object>, 'Conv', None; kwargs: idx=1.5",
        ),
    ),
    "is_output_support": (
        lambda: _CORVEL.is_output_support("Conv", b"int8", 3),
        _incompatible(
            "is_output_support",
            "function",
            [f"({_SELF}, arg0: str, arg1: str) -> bool"],
            "<qcaps.OperatorType object>, 'Conv', b'int8', 3",
        ),
    ),
    "input_support_types": (
        lambda: _CORVEL.input_support_types(kind=["Conv"]),
        _incompatible(
            "input_support_types",
            "function",
            [f"({_SELF}, kind: str, idx: int = 0) -> Set[str]"],
            "<qcaps.OperatorType object>; kwargs: kind=['Conv']",
        ),
    ),
    "output_support_types": (
        lambda: _CORVEL.output_support_types(),
        _incompatible(
            "output_support_types",
            "function",
            [f"({_SELF}, arg0: str) -> Set[str]"],
            "<qcaps.OperatorType object>",
        ),
    ),
    "support_types": (
        lambda: _CORVEL.support_types(object(), "?"),
        _incompatible(
            "support_types",
            "function",
            [f"({_SELF}, arg0: str, arg1: str) -> Set[str]"],
            "<qcaps.OperatorType object>, <object object>, '?'",
        ),
    ),
    "QuantizationAttrs()": (
        lambda: qattrs.QuantizationAttrs(1.5, True),
        _incompatible(
            "__init__",
            "constructor",
            ["qattrs.QuantizationAttrs()", "qattrs.QuantizationAttrs(arg0: int)"],
            "1.5, True",
        ),
    ),
    "CalibrationAttrs()": (
        lambda: qattrs.CalibrationAttrs(codes=(1, "kl")),
        _incompatible(
            "__init__",
            "constructor",
            ["qattrs.CalibrationAttrs()", "qattrs.CalibrationAttrs(arg0: List[int])"],
            "kwargs: codes=(1, 'kl')",
        ),
    ),
    "a property's getter": (
        lambda: qattrs.QuantizationAttrs.get_value.fget(qattrs.CalibrationAttrs()),
        _incompatible(
            "",
            "function",
            ["(arg0: qattrs.QuantizationAttrs) -> int"],
            "<qattrs.CalibrationAttrs object>",
        ),
    ),
}


@pytest.mark.parametrize(("call", "message"), MISMATCH_MESSAGES.values(), ids=MISMATCH_MESSAGES)
def test_mismatch_message_whole(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == message
