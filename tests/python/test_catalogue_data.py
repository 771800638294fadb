"""The catalogue's data file as installed, against its schema and the module.

The file lies under the environment's data directory (share/qcaps), or in
QCAPS_CATALOGUE_DIR when a run tests modules that were not installed.
"""

import itertools
import json
import os
import pathlib
import sysconfig

import jsonschema
import qcaps

DATA = pathlib.Path(
    os.environ.get("QCAPS_CATALOGUE_DIR")
    or pathlib.Path(sysconfig.get_path("data"), "share", "qcaps")
)


def test_installed_catalogue_is_valid_and_answers_as_the_module():
    catalogue = json.loads((DATA / "catalogue.json").read_text())
    schema = json.loads((DATA / "catalogue.schema.json").read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    jsonschema.Draft202012Validator(schema).validate(catalogue)

    types = catalogue["types"]
    everywhere = {name for t in catalogue["targets"].values() for name in t["operators"]}
    for target, table in catalogue["targets"].items():
        caps = qcaps.OperatorType(target)
        operators = table["operators"]
        for name in everywhere - operators.keys():
            assert caps.output_support_types(name) == set(), (target, name)
        for name, op in operators.items():
            assert caps.output_support_types(name) == set(op["output"]), (target, name)
            for i, at in enumerate(op["inputs"]):
                assert caps.input_support_types(name, i) == set(at), (target, name, i)
            # Each combination of inputs, asked for its outputs, gives exactly
            # the listed combinations.
            listed = {tuple(c.split("-")) for c in op["combinations"]}
            inputs = len(op["inputs"])
            for head in itertools.product(types, repeat=inputs):
                answered = caps.support_types(name, "-".join(head) + "-?")
                expected = {c[-1] for c in listed if c[:-1] == head}
                assert answered == expected, (target, name, head)
    for shared in catalogue["sharedTables"]:
        assert all(catalogue["targets"][t] == catalogue["targets"][shared[0]] for t in shared)
