"""The qcaps catalogue as data: the targets, each target's operators, and
each operator's combination strings.

The qcaps module answers queries about one operator at a time and cannot
list what it holds. This package lists it, from catalogue.json, which the
wheel installs beside this file: it is found wherever the package went, a
virtual environment, a `pip install --user` or any other prefix. Both come
from the same tables, in the same wheel, and carry the same version.

>>> import qcaps_catalogue
>>> qcaps_catalogue.targets()[:2]
['tamsin', 'tamsin2']
>>> qcaps_catalogue.combinations("corvel", "ReduceMean")[:2]
['float32-float32', 'int16-int16']
>>> qcaps_catalogue.inputs("corvel", "Conv")
2

A combination string names a combination that the target supports as a
whole; only the listed ones are supported. `qcaps-check` (this package's
`check` module) checks names against the data from the command line.
"""

import functools
import json
import pathlib
from typing import Any

__all__ = [
    "FORMAT_VERSION",
    "combinations",
    "inputs",
    "load",
    "operators",
    "path",
    "same_table",
    "targets",
    "types",
    "version",
]

#: The layout of catalogue.json that this package reads.
FORMAT_VERSION = 1


def path() -> pathlib.Path:
    """The catalogue.json installed beside this package; catalogue.schema.json
    lies next to it."""
    return pathlib.Path(__file__).with_name("catalogue.json")


def load() -> dict[str, Any]:
    """The whole file, newly read: "version", "formatVersion", "types",
    "groups", "sharedTables" and "targets", as catalogue.schema.json
    describes them.

    Raises ValueError when the file is of a layout this package cannot read.
    """
    data: dict[str, Any] = json.loads(path().read_text(encoding="utf-8"))
    if data.get("formatVersion") != FORMAT_VERSION:
        raise ValueError(
            f"{path()} has data format {data.get('formatVersion')!r}; "
            f"this package reads format {FORMAT_VERSION}"
        )
    return data


@functools.lru_cache(maxsize=1)
def _data() -> dict[str, Any]:
    return load()


def version() -> str:
    """The qcaps release the data comes from, such as "0.2.0"."""
    return str(_data()["version"])


def types() -> list[str]:
    """The data-type names: int8, int16, int32, float16 and float32."""
    return list(_data()["types"])


def targets() -> list[str]:
    """Every target name that qcaps.OperatorType accepts, in the catalogue's
    order; any other name gives an empty catalogue."""
    return list(_data()["targets"])


def _operators_of(target: str) -> dict[str, Any]:
    try:
        table: dict[str, Any] = _data()["targets"][target]["operators"]
    except KeyError:
        raise KeyError(f"{target!r} is not a target") from None
    return table


def same_table(target: str) -> list[str]:
    """The other targets whose table equals that of `target`."""
    _operators_of(target)
    shared = next(group for group in _data()["sharedTables"] if target in group)
    return [other for other in shared if other != target]


def operators(target: str) -> list[str]:
    """The operators that `target` supports, by name, in byte order.

    Raises KeyError when `target` is not a target.
    """
    return sorted(_operators_of(target))


def combinations(target: str, operator: str) -> list[str]:
    """The combination strings of `operator` on `target`, in byte order:
    input types in input order, then the output type.

    Raises KeyError when `target` is not a target or has no such operator.
    """
    table = _operators_of(target)
    if operator not in table:
        raise KeyError(f"{target} has no operator {operator!r}")
    return list(table[operator]["combinations"])


def inputs(target: str, operator: str) -> int:
    """The number of inputs of `operator` on `target`: 1 or 2.

    Raises KeyError when `target` is not a target or has no such operator.
    """
    return max(combo.count("-") for combo in combinations(target, operator))
