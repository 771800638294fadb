import itertools

import catalogue_model as model
import pytest
import qcaps

METHODS = [
    "is_input_support",
    "is_output_support",
    "input_support_types",
    "output_support_types",
    "support_types",
]
# name: (parameters after self, result), as pybind11 2.11 renders them.
_PARAMETERS = {
    "__init__": ("arg0: str", "None"),
    "is_input_support": ("kind: str, qtype: str, idx: int = 0", "bool"),
    "is_output_support": ("arg0: str, arg1: str", "bool"),
    "input_support_types": ("kind: str, idx: int = 0", "Set[str]"),
    "output_support_types": ("arg0: str", "Set[str]"),
    "support_types": ("arg0: str, arg1: str", "Set[str]"),
}
SIGNATURES = {
    name: f"{name}(self: qcaps.OperatorType, {params}) -> {result}\n"
    for name, (params, result) in _PARAMETERS.items()
}
TYPES = ["int8", "int16", "int32", "float16", "float32"]
INDICES = [0, 1, 2, 3, 7, -1, -2, 2**31 - 1, -(2**31)]
PATTERN_FIELDS = [*TYPES, "?", "x"]
PATTERNS = (
    ["?", "x", ""]
    + ["-".join(p) for p in itertools.product(PATTERN_FIELDS, repeat=2)]
    + ["-".join(p) for p in itertools.product(["int8", "int16", "float32", "?", "x"], repeat=3)]
    + ["x-x-x-?", "?-x-x-x", "int8-int8-int?", "int8-", "-?"]
)
NEAR_MISSES = [
    "",
    "Corvel",
    "CORVEL",
    "corvel ",
    " corvel",
    "corvel-",
    "corvel-ex",
    "tamsin3",
    "pelo",
    "m5",
    "m55\x00",
    "корвел",
]


@pytest.fixture(scope="module", params=model.ALL_TARGETS)
def target(request):
    return request.param


@pytest.fixture(scope="module")
def catalogue(target):
    return qcaps.OperatorType(target)


# --- module surface ----------------------------------------------------------


def test_module_holds_only_operator_type():
    assert qcaps.__doc__ is None
    assert [n for n in vars(qcaps) if not n.startswith("__")] == ["OperatorType"]


def test_class_has_exactly_the_six_methods_in_order():
    own = [n for n in vars(qcaps.OperatorType) if not n.startswith("_")]
    assert own == METHODS
    assert qcaps.OperatorType.__doc__ is None


@pytest.mark.parametrize("name", list(SIGNATURES))
def test_docstrings_are_the_signature_lines(name):
    assert getattr(qcaps.OperatorType, name).__doc__ == SIGNATURES[name]


def test_instances_take_no_attributes():
    with pytest.raises(AttributeError):
        qcaps.OperatorType("corvel").target = "pelor"


# --- argument rules ----------------------------------------------------------


INPUT_0 = {"float32", "int16", "int8"}  # Conv on corvel
INPUT_1 = {"float32", "int8"}
# Every named method over positional, keyword and defaulted arguments, in
# any order: the answer, or TypeError for a call that does not fit.
ARGUMENT_PASSING = {
    "is_input_support(k, q)": (lambda c: c.is_input_support("Conv", "int16"), True),
    "is_input_support(k, q, i)": (lambda c: c.is_input_support("Conv", "int16", 1), False),
    "is_input_support(k, qtype=)": (lambda c: c.is_input_support("Conv", qtype="int16"), True),
    "is_input_support(k, q, idx=)": (lambda c: c.is_input_support("Conv", "int8", idx=1), True),
    "is_input_support(k, idx=, qtype=)": (
        lambda c: c.is_input_support("Conv", idx=1, qtype="int16"),
        False,
    ),
    "is_input_support(kind=, qtype=)": (
        lambda c: c.is_input_support(kind="Conv", qtype="int16"),
        True,
    ),
    "is_input_support(qtype=, kind=)": (
        lambda c: c.is_input_support(qtype="int16", kind="Conv"),
        True,
    ),
    "is_input_support(idx=, qtype=, kind=)": (
        lambda c: c.is_input_support(idx=1, qtype="int8", kind="Conv"),
        True,
    ),
    "is_input_support(k, q, i, idx=)": (
        lambda c: c.is_input_support("Conv", "int8", 1, idx=1),
        TypeError,
    ),
    "is_input_support(k, kind=, qtype=)": (
        lambda c: c.is_input_support("Conv", kind="Conv", qtype="int8"),
        TypeError,
    ),
    "is_input_support(qtype=)": (lambda c: c.is_input_support(qtype="int8"), TypeError),
    "is_input_support(k, idx=)": (lambda c: c.is_input_support("Conv", idx=1), TypeError),
    "is_input_support(k, q, other=)": (
        lambda c: c.is_input_support("Conv", "int8", other=1),
        TypeError,
    ),
    "input_support_types(k)": (lambda c: c.input_support_types("Conv"), INPUT_0),
    "input_support_types(k, i)": (lambda c: c.input_support_types("Conv", 1), INPUT_1),
    "input_support_types(kind=)": (lambda c: c.input_support_types(kind="Conv"), INPUT_0),
    "input_support_types(k, idx=)": (lambda c: c.input_support_types("Conv", idx=1), INPUT_1),
    "input_support_types(idx=, kind=)": (
        lambda c: c.input_support_types(idx=1, kind="Conv"),
        INPUT_1,
    ),
    "input_support_types(idx=)": (lambda c: c.input_support_types(idx=1), TypeError),
    "input_support_types(k, i, idx=)": (
        lambda c: c.input_support_types("Conv", 1, idx=1),
        TypeError,
    ),
    "input_support_types(k, kind=)": (
        lambda c: c.input_support_types("Conv", kind="Conv"),
        TypeError,
    ),
    "is_output_support(k, q)": (lambda c: c.is_output_support("Conv", "int32"), True),
    "output_support_types(k)": (lambda c: c.output_support_types("Softmax"), {"float32"}),
    "support_types(k, p)": (
        lambda c: c.support_types("Conv", "int8-int8-?"),
        {"int16", "int32", "int8"},
    ),
    "OperatorType(t)": (
        lambda c: qcaps.OperatorType("tamsin").output_support_types("Conv"),
        {"float32", "int32", "int8"},
    ),
}


@pytest.mark.parametrize(
    ("call", "expected"), ARGUMENT_PASSING.values(), ids=ARGUMENT_PASSING.keys()
)
def test_every_way_of_passing_arguments(call, expected):
    catalogue = qcaps.OperatorType("corvel")
    if expected is TypeError:
        with pytest.raises(TypeError, match="incompatible function arguments"):
            call(catalogue)
    else:
        assert call(catalogue) == expected


@pytest.mark.parametrize(
    "call",
    [
        lambda c: c.is_output_support(kind="Conv", qtype="int8"),
        lambda c: c.is_output_support("Conv", qtype="int8"),
        lambda c: c.output_support_types(kind="Conv"),
        lambda c: c.support_types(kind="Conv", qtype="?"),
        lambda c: c.support_types("Conv", pattern="?"),
        lambda c: c.input_support_types(name="Conv"),
        lambda c: qcaps.OperatorType(name="corvel"),
        lambda c: qcaps.OperatorType(target="corvel"),
    ],
    ids=[
        "is_output_support-kw",
        "is_output_support-2nd-kw",
        "output_support_types-kw",
        "support_types-kw",
        "support_types-2nd-kw",
        "input_support_types-wrong-name",
        "init-name",
        "init-target",
    ],
)
def test_positional_only_parameters_refuse_keywords(call):
    with pytest.raises(TypeError, match="incompatible"):
        call(qcaps.OperatorType("corvel"))


@pytest.mark.parametrize("op", ["Conv", "Add", "Sigmoid", "GridSample", "unknown-op"])
def test_default_idx_is_zero(catalogue, op):
    assert catalogue.input_support_types(op) == catalogue.input_support_types(op, 0)
    for qtype in TYPES:
        assert catalogue.is_input_support(op, qtype) == catalogue.is_input_support(op, qtype, 0)


@pytest.mark.parametrize("idx", [2**31, -(2**31) - 1, 2**64, 1.0, 0.0, "1", None, [0]], ids=repr)
def test_idx_must_be_a_32_bit_integer(idx):
    c = qcaps.OperatorType("corvel")
    with pytest.raises(TypeError):
        c.input_support_types("Conv", idx)
    with pytest.raises(TypeError):
        c.is_input_support("Conv", "int8", idx)


@pytest.mark.parametrize("bad", [1, None, 1.5, ["Conv"], "\udc80"], ids=repr)
def test_names_and_types_must_be_str(bad):
    c = qcaps.OperatorType("corvel")
    calls = [
        lambda: c.is_input_support(bad, "int8"),
        lambda: c.is_input_support("Conv", bad),
        lambda: c.is_output_support(bad, "int8"),
        lambda: c.is_output_support("Conv", bad),
        lambda: c.input_support_types(bad),
        lambda: c.output_support_types(bad),
        lambda: c.support_types(bad, "?"),
        lambda: c.support_types("Conv", bad),
        lambda: qcaps.OperatorType(bad),
    ]
    for call in calls:
        with pytest.raises(TypeError):
            call()


@pytest.mark.parametrize("text", [bytes, bytearray])
def test_bytes_convert_like_their_utf8_text(text):
    # pybind11's text conversion takes bytes and bytearray as the UTF-8 text
    # they hold.
    c = qcaps.OperatorType(text(b"corvel"))
    assert c.input_support_types(text(b"Conv"), 1) == {"float32", "int8"}
    assert c.support_types(text(b"Conv"), text(b"int16-?")) == c.support_types("Conv", "int16-?")
    assert c.is_output_support(text(b"Conv"), text(b"int16"))


def test_wrong_argument_counts():
    c = qcaps.OperatorType("corvel")
    for call in [
        lambda: qcaps.OperatorType(),
        lambda: qcaps.OperatorType("corvel", "pelor"),
        lambda: c.support_types("Conv"),
        lambda: c.output_support_types(),
        lambda: c.is_input_support("Conv"),
        lambda: c.input_support_types("Conv", 0, 1),
    ]:
        with pytest.raises(TypeError):
            call()


# --- answers -----------------------------------------------------------------


def test_the_headline_query():
    assert qcaps.OperatorType("corvel").input_support_types("Conv", 1) == {"float32", "int8"}


def test_sample_operators_agree_with_the_model(target, catalogue):
    for op, combos in model.sample(target):
        assert catalogue.output_support_types(op) == model.output_support_types(combos), op
        for qtype in [*TYPES, "", "int"]:
            assert catalogue.is_output_support(op, qtype) == (
                qtype in model.output_support_types(combos)
            ), (op, qtype)
        for idx in INDICES:
            expected = model.input_support_types(combos, idx)
            assert catalogue.input_support_types(op, idx) == expected, (op, idx)
            for qtype in [*TYPES, ""]:
                assert catalogue.is_input_support(op, qtype, idx) == (qtype in expected)
        for pattern in PATTERNS:
            assert catalogue.support_types(op, pattern) == model.support_types(combos, pattern), (
                op,
                pattern,
            )


@pytest.mark.parametrize("op", ["Conv", "conv", "CONV", "sigmoid", "NotAnOperator", "", "Conv "])
@pytest.mark.parametrize("name", NEAR_MISSES, ids=repr)
def test_near_miss_targets_answer_nothing(name, op):
    c = qcaps.OperatorType(name)
    assert c.input_support_types(op) == set()
    assert c.output_support_types(op) == set()
    assert c.support_types(op, "?") == set()
    assert c.is_input_support(op, "int8") is False
    assert c.is_output_support(op, "int8") is False


@pytest.mark.parametrize("op", ["conv", "sigmoid", "add", "transpose", "never-seen-operator"])
def test_unknown_and_lower_cased_operators_answer_nothing(catalogue, op):
    assert catalogue.input_support_types(op, -1) == set()
    assert catalogue.output_support_types(op) == set()
    assert catalogue.support_types(op, "int8-?") == set()
    assert not catalogue.is_input_support(op, "", -1)


def test_negative_idx_gives_the_empty_text(catalogue):
    assert catalogue.input_support_types("Sigmoid", -1) == {""}
    assert catalogue.is_input_support("Sigmoid", "", -1) is True


def test_every_call_returns_a_fresh_set(catalogue):
    first = catalogue.input_support_types("Sigmoid")
    second = catalogue.input_support_types("Sigmoid")
    assert first == second and first is not second
    first.add("bogus")
    assert "bogus" not in catalogue.input_support_types("Sigmoid")
    assert catalogue.support_types("Sigmoid", "?") is not catalogue.support_types("Sigmoid", "?")
    assert catalogue.output_support_types("Sigmoid") is not catalogue.output_support_types(
        "Sigmoid"
    )


def test_results_are_sets_of_str_and_bools(catalogue):
    types = catalogue.output_support_types("Sigmoid")
    assert type(types) is set and all(type(t) is str for t in types)
    assert type(catalogue.is_output_support("Sigmoid", "int8")) is bool


def test_catalogues_of_different_targets_live_side_by_side():
    tamsin, pelor = qcaps.OperatorType("tamsin"), qcaps.OperatorType("pelor")
    assert tamsin.output_support_types("Softmax") == {"float32"}
    assert pelor.output_support_types("Softmax") == {"float16", "float32"}
    del pelor
    assert tamsin.output_support_types("Softmax") == {"float32"}


def test_aliases_answer_alike():
    for a, b in [("tamsin", "tamsin2"), ("corvel", "corvel-e")]:
        ca, cb = qcaps.OperatorType(a), qcaps.OperatorType(b)
        for op in ["Conv", "Add", "GridSample", "GlobalAveragePool", "Transpose"]:
            assert ca.support_types(op, "?-x-?") == cb.support_types(op, "?-x-?")
            assert ca.input_support_types(op, 1) == cb.input_support_types(op, 1)


def test_only_m55_gives_float16_from_int8_inputs():
    for target in model.ALL_TARGETS:
        expected = {"float16"} if target == "m55" else set()
        got = qcaps.OperatorType(target).support_types("Conv", "int8-int8-?") & {"float16"}
        assert got == expected, target
