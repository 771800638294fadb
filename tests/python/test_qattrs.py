import decimal
import operator

import attrs_model
import pytest
import qattrs
from hypothesis import given
from hypothesis import strategies as st

INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1

FLAGS = attrs_model.FLAGS

QUANT_MEMBERS = (
    ["get_value"]
    + [
        f"set_{n}"
        for n in (
            "scale",
            "shift",
            "static",
            "dynamic",
            "symmetric",
            "asymmetric",
            "per_tensor",
            "per_channel",
            "per_block",
            "feature",
            "weight",
        )
    ]
    + [f"is_{n}" for n in FLAGS]
)
CALIB_CODES = attrs_model.CODES
CALIB_MEMBERS = [f"set_{n}" for n in CALIB_CODES] + ["get_value", "number_of_methods"]


def as_int64(word):
    """Python's unbounded int wrapped to a signed 64-bit value."""
    word &= (1 << 64) - 1
    return word - (1 << 64) if word >> 63 else word


def own_members(cls):
    return [name for name in vars(cls) if not name.startswith("_")]


# --- module surface ----------------------------------------------------------


def test_module_holds_only_the_two_classes():
    assert qattrs.__doc__ is None
    public = [name for name in vars(qattrs) if not name.startswith("__")]
    assert sorted(public) == ["CalibrationAttrs", "QuantizationAttrs"]


@pytest.mark.parametrize(
    "cls, members, result_types",
    [
        (qattrs.QuantizationAttrs, QUANT_MEMBERS, None),
        (qattrs.CalibrationAttrs, CALIB_MEMBERS, None),
    ],
    ids=["QuantizationAttrs", "CalibrationAttrs"],
)
def test_every_operation_is_a_read_only_property_in_order(cls, members, result_types):
    assert own_members(cls) == members
    assert cls.__doc__ is None
    for name in members:
        assert isinstance(vars(cls)[name], property), name
        assert vars(cls)[name].fset is None and vars(cls)[name].fdel is None


@pytest.mark.parametrize(
    "cls, name, signature",
    [
        (qattrs.QuantizationAttrs, "get_value", "-> int"),
        (qattrs.QuantizationAttrs, "set_scale", "-> None"),
        (qattrs.QuantizationAttrs, "is_weight", "-> bool"),
        (qattrs.CalibrationAttrs, "get_value", "-> List[int]"),
        (qattrs.CalibrationAttrs, "number_of_methods", "-> int"),
        (qattrs.CalibrationAttrs, "set_kl", "-> None"),
    ],
)
def test_property_signatures(cls, name, signature):
    assert vars(cls)[name].fget.__doc__.strip() == (f"(arg0: qattrs.{cls.__name__}) {signature}")


@pytest.mark.parametrize(
    "cls, argument",
    [(qattrs.QuantizationAttrs, "int"), (qattrs.CalibrationAttrs, "List[int]")],
)
def test_constructor_overloads(cls, argument):
    assert cls.__init__.__doc__ == (
        "__init__(*args, **kwargs)\nOverloaded function.\n\n"
        f"1. __init__(self: qattrs.{cls.__name__}) -> None\n\n"
        f"2. __init__(self: qattrs.{cls.__name__}, arg0: {argument}) -> None\n"
    )


# --- QuantizationAttrs -------------------------------------------------------


def test_default_word():
    a = qattrs.QuantizationAttrs()
    assert a.get_value == 4369
    truths = {name for name in FLAGS if getattr(a, f"is_{name}")}
    assert truths == {"scale", "symmetric", "static", "per_tensor"}


@pytest.mark.parametrize(
    "setters, word",
    [
        (["per_channel"], 0x2111),
        (["weight"], 0x21111),
        (["dynamic"], 0x1211),
        (["shift", "asymmetric", "dynamic", "per_block", "weight"], 0x24222),
        (["feature", "weight"], 0x21111),
        (["per_block", "per_block"], 0x4111),
    ],
)
def test_reading_setters_changes_the_word(setters, word):
    a = qattrs.QuantizationAttrs()
    for name in setters:
        assert getattr(a, f"set_{name}") is None
    assert a.get_value == word


@pytest.mark.parametrize(
    "start, setter, word",
    [
        (3, "scale", 1),
        (0x8000, "per_block", 0xC000),
        (-1, "static", -513),
        (INT64_MIN, "weight", INT64_MIN | 0x20000),
        (INT64_MAX, "scale", INT64_MAX & ~0x2),
    ],
)
def test_words_from_integers_are_kept_as_given(start, setter, word):
    a = qattrs.QuantizationAttrs(start)
    assert a.get_value == start
    getattr(a, f"set_{setter}")
    assert a.get_value == word


def test_all_bits_set_reports_every_flag():
    a = qattrs.QuantizationAttrs(-1)
    assert all(getattr(a, f"is_{name}") is True for name in FLAGS)
    assert qattrs.QuantizationAttrs(3).is_scale and qattrs.QuantizationAttrs(3).is_shift


@given(
    start=st.one_of(
        st.integers(INT64_MIN, INT64_MAX),
        st.integers(0, 0x3FFFF),  # the flag nibbles and their free bits
        st.sampled_from([0, -1, 0x1111, INT64_MIN, INT64_MAX]),
    ),
    setters=st.lists(st.sampled_from(sorted(FLAGS))),
)
def test_setters_follow_the_mask_model(start, setters):
    a = qattrs.QuantizationAttrs(start)
    model = start
    for name in setters:
        bit, siblings = FLAGS[name]
        getattr(a, f"set_{name}")
        model = as_int64((model & ~siblings) | bit)
        assert a.get_value == model
    for name, (bit, _) in FLAGS.items():
        assert getattr(a, f"is_{name}") is bool(model & bit), name


def test_calling_a_setter_applies_it_then_fails():
    a = qattrs.QuantizationAttrs()
    with pytest.raises(TypeError, match="'NoneType' object is not callable"):
        a.set_shift()
    assert a.is_shift and not a.is_scale


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IntOnly:
    def __int__(self):
        return 7


@pytest.mark.parametrize(
    "argument, word",
    [
        (Index(42), 42),
        (True, 1),
        (IntOnly(), 7),
        (decimal.Decimal(5), 5),
        (INT64_MIN, INT64_MIN),
        (INT64_MAX, INT64_MAX),
    ],
    ids=["__index__", "bool", "__int__", "Decimal", "int64-min", "int64-max"],
)
def test_integer_conversions_accepted(argument, word):
    assert qattrs.QuantizationAttrs(argument).get_value == word


class RaisingIndex:
    def __index__(self):
        raise RuntimeError("no index")


@pytest.mark.parametrize(
    "args",
    [
        (3.0,),
        (1.5,),
        ("12",),
        (b"1",),
        (None,),
        (2**63,),
        (INT64_MIN - 1,),
        (2**100,),
        (RaisingIndex(),),
        ([1],),
        (1, 2),
    ],
    ids=repr,
)
def test_quantization_constructor_refusals(args):
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        qattrs.QuantizationAttrs(*args)


@pytest.mark.parametrize(
    "call",
    [lambda: qattrs.QuantizationAttrs(value=1), lambda: qattrs.CalibrationAttrs(codes=[1])],
    ids=["QuantizationAttrs", "CalibrationAttrs"],
)
def test_keyword_argument_is_refused(call):
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        call()


# --- CalibrationAttrs --------------------------------------------------------


def test_calibration_default_is_empty():
    c = qattrs.CalibrationAttrs()
    assert c.get_value == [] and c.number_of_methods == 0
    assert qattrs.CalibrationAttrs([]).get_value == []


def test_setters_append_in_call_order():
    c = qattrs.CalibrationAttrs()
    c.set_kl
    c.set_max
    assert c.get_value == [2, 1] and c.number_of_methods == 2
    c.set_max
    assert c.get_value == [2, 1, 1]
    every = qattrs.CalibrationAttrs()
    for name in CALIB_CODES:
        getattr(every, f"set_{name}")
    assert every.get_value == [1, 2, 4, 8, 16, 32]


class ItemsOnly:
    """A sequence by __getitem__ alone, which list() reads without a length."""

    def __getitem__(self, index):
        if index >= 3:
            raise IndexError(index)
        return 2 * index


class LengthRefused(ItemsOnly):
    def __len__(self):
        raise TypeError("no length")


@pytest.mark.parametrize(
    "codes, expected",
    [
        ([8, 8, 0, -5, 64], [8, 8, 0, -5, 64]),
        (ItemsOnly(), [0, 2, 4]),
        (LengthRefused(), [0, 2, 4]),
        ((4, 4), [4, 4]),
        (range(3), [0, 1, 2]),
        ([Index(16)], [16]),
        ([True, False], [1, 0]),
        (bytearray(b"\x01\x02"), [1, 2]),
        ([INT64_MIN, INT64_MAX], [INT64_MIN, INT64_MAX]),
    ],
    ids=[
        *["list", "items only", "length refused", "tuple", "range", "__index__", "bools"],
        *["bytearray", "int64-bounds"],
    ],
)
def test_any_sequence_of_integers_is_copied(codes, expected):
    # Read as list() reads it, which is the oracle.
    assert [operator.index(code) for code in codes] == expected
    c = qattrs.CalibrationAttrs(codes)
    assert c.get_value == expected
    assert c.number_of_methods == len(expected)


@pytest.mark.parametrize(
    "args",
    [
        ("12",),
        (b"12",),
        ([1, 2.0],),
        ([1, "2"],),
        ([2**63],),
        ([1, None],),
        ({1, 2},),
        (iter([1, 2]),),
        (5,),
        ([1], [2]),
    ],
    ids=repr,
)
def test_calibration_constructor_refusals(args):
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        qattrs.CalibrationAttrs(*args)


def test_get_value_returns_a_new_list_each_read():
    c = qattrs.CalibrationAttrs([8, 8, 0, -5, 64])
    first = c.get_value
    first.append(99)
    assert c.get_value == [8, 8, 0, -5, 64]
    assert c.get_value is not c.get_value
    c.set_percentile
    assert c.get_value == [8, 8, 0, -5, 64, 4]


@given(
    start=st.lists(st.integers(INT64_MIN, INT64_MAX), max_size=20),
    setters=st.lists(st.sampled_from(sorted(CALIB_CODES)), max_size=20),
)
def test_calibration_list_model(start, setters):
    c = qattrs.CalibrationAttrs(start)
    for name in setters:
        getattr(c, f"set_{name}")
    assert c.get_value == start + [CALIB_CODES[name] for name in setters]
    assert c.number_of_methods == len(start) + len(setters)


# --- read-only properties ----------------------------------------------------


@pytest.mark.parametrize(
    "cls, name",
    [(qattrs.QuantizationAttrs, n) for n in QUANT_MEMBERS]
    + [(qattrs.CalibrationAttrs, n) for n in CALIB_MEMBERS],
)
def test_properties_cannot_be_assigned_or_deleted(cls, name):
    obj = cls()
    with pytest.raises(AttributeError):
        setattr(obj, name, 1)
    with pytest.raises(AttributeError):
        delattr(obj, name)
