"""A plain-Python reading of the catalogue's query rules, for differential tests."""

ALL_TARGETS = ["tamsin", "tamsin2", "corvel", "corvel-e", "pelor", "m55"]
FAMILY = {
    "tamsin": "tamsin",
    "tamsin2": "tamsin",
    "corvel": "corvel",
    "corvel-e": "corvel",
    "pelor": "pelor",
    "m55": "m55",
}


def _fields(text):
    return text.split("-")


def input_field(combo, idx):
    f = _fields(combo)
    inputs = len(f) - 1
    if idx == 0 or (idx > 0 and idx >= inputs):
        return f[0]
    if idx == 1:
        return f[1]
    return ""  # negative, or an input past the second


def output_field(combo):
    return _fields(combo)[-1]


def input_support_types(combos, idx):
    return {input_field(c, idx) for c in combos}


def output_support_types(combos):
    return {output_field(c) for c in combos}


def support_types(combos, pattern):
    g = pattern.count("-")

    def at(text, i):
        return input_field(text, i) if i < g else output_field(text)

    if "?" not in pattern:
        return set()
    k = pattern[: pattern.index("?")].count("-")
    result = set()
    for c in combos:
        if all(at(pattern, i) in ("?", "x") or at(c, i) == at(pattern, i) for i in range(g + 1)):
            result.add(at(c, k))
    return result


# Combination sets of a sample of operators, per family, as the target tables
# list them. Operators not listed for a family have no entry there.
_TWO_FIELD_FLOAT = {"tamsin": [], "corvel": [], "pelor": ["float16-float16"]}

SAMPLE = {
    "tamsin": {
        "Conv": {"float32-float32-float32", "int8-int8-int32", "int8-int8-int8"},
        "Add": {"float32-float32-float32", "int8-int8-int8"},
        "ConvTranspose": {"float32-float32-float32", "int8-int8-int8"},
        "Sigmoid": {"float32-float32", "int8-int8"},
        "ReduceMean": {"float32-float32", "int8-int8"},
        "Softmax": {"float32-float32"},
        "GlobalAveragePool": {"float32-float32", "int8-int32", "int8-int8"},
    },
    "corvel": {
        "Conv": {
            "float32-float32-float32",
            "int16-int8-int16",
            "int16-int8-int32",
            "int16-int8-int8",
            "int8-int8-int16",
            "int8-int8-int32",
            "int8-int8-int8",
        },
        "Add": {
            "float32-float32-float32",
            "int16-int16-int16",
            "int16-int16-int8",
            "int16-int8-int16",
            "int16-int8-int8",
            "int8-int16-int16",
            "int8-int16-int8",
            "int8-int8-int16",
            "int8-int8-int8",
        },
        "Equal": {"float32-float32-float32", "int16-int16-int8", "int8-int8-int8"},
        "Sigmoid": {"float32-float32", "int16-int16", "int16-int8", "int8-int8"},
        "ReduceMean": {"float32-float32", "int16-int16", "int8-int16", "int8-int8"},
        "Transpose": {"float32-float32", "int16-int16", "int32-int32", "int8-int8"},
        "GridSample": {"float32-float32-float32", "int8-int16-int8"},
        "ZtPreprocess": {
            "float32-float32-float32",
            "int8-int8-int16",
            "int8-int8-int32",
            "int8-int8-int8",
        },
        "Softmax": {"float32-float32"},
    },
}
_PELOR_CONV = {
    "float16-float16-float16",
    "float32-float32-float32",
    "int16-int8-int16",
    "int16-int8-int32",
    "int16-int8-int8",
    "int8-int16-int16",
    "int8-int16-int32",
    "int8-int16-int8",
    "int8-int8-int16",
    "int8-int8-int32",
    "int8-int8-int8",
}
SAMPLE["pelor"] = {
    "Conv": _PELOR_CONV,
    "MatMul": _PELOR_CONV,
    "Equal": {
        "float16-float16-float16",
        "float32-float32-float32",
        "int16-int16-int8",
        "int8-int8-int8",
    },
    "Sigmoid": {"float16-float16", "float32-float32", "int16-int16", "int16-int8", "int8-int8"},
    "ReduceMean": {"float16-float16", "float32-float32", "int16-int16", "int8-int16", "int8-int8"},
    "GridSample": {"float16-float16-float16", "float32-float32-float32", "int8-int16-int8"},
    "Softmax": {"float16-float16", "float32-float32"},
}
SAMPLE["m55"] = dict(
    SAMPLE["pelor"],
    Conv=_PELOR_CONV | {"int8-int8-float16"},
    MatMul=_PELOR_CONV | {"int8-int8-float16"},
)

# Operators that a family's table does not list.
ABSENT = {
    "tamsin": ["GridSample", "GridSamplePlugin", "ZtQuantize", "Identity"],
    "corvel": ["ZtQuantize", "Identity", "LSTM"],
    "pelor": ["ZtPreprocess", "ZtQuantize", "Identity"],
    "m55": ["ZtPreprocess", "ZtQuantize", "Identity"],
}


def sample(target):
    """(operator, combinations) pairs of the sample for a target, absent ones empty."""
    family = FAMILY[target]
    pairs = list(SAMPLE[family].items())
    pairs += [(op, set()) for op in ABSENT[family]]
    return pairs
