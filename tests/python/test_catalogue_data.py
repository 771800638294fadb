"""The catalogue's data as the companion package reads it from beside itself,
against its schema, the package's version and the module's answers."""

import importlib.metadata
import itertools
import json

import jsonschema
import pytest
import qcaps
import qcaps_catalogue as catalogue

TARGETS = ["tamsin", "tamsin2", "corvel", "corvel-e", "pelor", "m55"]


def test_the_data_is_valid_and_of_this_release():
    data = catalogue.load()
    schema = json.loads(catalogue.path().with_name("catalogue.schema.json").read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    jsonschema.Draft202012Validator(schema).validate(data)
    assert data["formatVersion"] == catalogue.FORMAT_VERSION
    try:
        installed = importlib.metadata.version("qcaps")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("the modules under test were not installed as a package")
    assert catalogue.version() == installed


def test_every_target_is_listed_and_only_those_answer():
    assert catalogue.targets() == TARGETS
    everywhere = {op for t in TARGETS for op in catalogue.operators(t)}
    for name in ["corvell", "Corvel", ""]:
        caps = qcaps.OperatorType(name)
        assert not any(caps.output_support_types(op) for op in everywhere), name
    for target in TARGETS:
        for other in catalogue.same_table(target):
            assert catalogue.operators(other) == catalogue.operators(target)
            for op in catalogue.operators(target):
                assert catalogue.combinations(other, op) == catalogue.combinations(target, op)


@pytest.mark.parametrize("target", TARGETS)
def test_the_companion_answers_as_the_module(target):
    caps = qcaps.OperatorType(target)
    types = catalogue.types()
    listed = catalogue.operators(target)
    everywhere = {op for t in TARGETS for op in catalogue.operators(t)}
    for name in everywhere - set(listed):
        assert caps.output_support_types(name) == set(), name
        with pytest.raises(KeyError):
            catalogue.combinations(target, name)
    for name in listed:
        combos = {tuple(c.split("-")) for c in catalogue.combinations(target, name)}
        inputs = catalogue.inputs(target, name)
        assert {len(c) for c in combos} == {inputs + 1}, name
        assert caps.output_support_types(name) == {c[-1] for c in combos}, name
        for i in range(inputs):
            assert caps.input_support_types(name, i) == {c[i] for c in combos}, (name, i)
        # Each combination of inputs, asked for its outputs, gives exactly the
        # listed combinations: none more, none fewer.
        for head in itertools.product(types, repeat=inputs):
            answered = caps.support_types(name, "-".join(head) + "-?")
            assert answered == {c[-1] for c in combos if c[:-1] == head}, (name, head)


def test_unknown_names_raise_key_error():
    with pytest.raises(KeyError, match="'corvell' is not a target"):
        catalogue.operators("corvell")
    with pytest.raises(KeyError, match="corvel has no operator 'conv'"):
        catalogue.inputs("corvel", "conv")
