"""The typed stubs installed beside the modules agree with the runtime."""

import ast
import pathlib
import re
import subprocess
import sys
import sysconfig

import pytest
import qattrs
import qcaps

ROOT = pathlib.Path(__file__).resolve().parents[2]
SITE = pathlib.Path(sysconfig.get_paths()["purelib"])


def stub_classes(module):
    tree = ast.parse((SITE / f"{module.__name__}-stubs" / "__init__.pyi").read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def pybind11_notation(annotation):
    """The builtin generics of a stub as pybind11 2.11 writes them."""
    return annotation.replace("set[", "Set[").replace("list[", "List[")


def stub_signature(function):
    """'(self, kind: str, idx: int = 0) -> Set[str]' in pybind11's notation."""
    args = function.args
    params = args.posonlyargs + args.args
    defaults = [None] * (len(params) - len(args.defaults)) + args.defaults
    parts = []
    for param, default in zip(params, defaults, strict=False):
        text = (
            param.arg
            if param.annotation is None
            else f"{param.arg}: {ast.unparse(param.annotation)}"
        )
        parts.append(text if default is None else f"{text} = {ast.unparse(default)}")
    return f"({', '.join(parts)}) -> {pybind11_notation(ast.unparse(function.returns))}", [
        p.arg for p in args.posonlyargs if p.arg != "self"
    ]


def runtime_signatures(function):
    """Each overload's signature from a pybind11 docstring, self untyped."""
    found = re.findall(r"\w+(\(.*\) -> .*)", function.__doc__)
    return [re.sub(r"self: [\w.]+", "self", sig) for sig in found]


@pytest.mark.parametrize(
    "name",
    [
        "__init__",
        "is_input_support",
        "is_output_support",
        "input_support_types",
        "output_support_types",
        "support_types",
    ],
)
def test_qcaps_method_stubs_match_the_runtime(name):
    stub = {
        f.name: f
        for f in stub_classes(qcaps)["OperatorType"].body
        if isinstance(f, ast.FunctionDef)
    }[name]
    signature, positional_only = stub_signature(stub)
    assert [signature] == runtime_signatures(getattr(qcaps.OperatorType, name))
    # pybind11 names unnamed parameters argN; those take no keywords.
    assert positional_only == [p for p in re.findall(r"(\w+):", signature) if p.startswith("arg")]


@pytest.mark.parametrize(
    "cls", [qattrs.QuantizationAttrs, qattrs.CalibrationAttrs], ids=lambda c: c.__name__
)
def test_qattrs_stubs_declare_the_same_read_only_properties(cls):
    body = stub_classes(qattrs)[cls.__name__].body
    properties = [
        f
        for f in body
        if isinstance(f, ast.FunctionDef)
        and any(ast.unparse(d) == "property" for d in f.decorator_list)
    ]
    assert [f.name for f in properties] == [n for n in vars(cls) if not n.startswith("_")]
    for function in properties:
        runtime = vars(cls)[function.name].fget.__doc__.strip().split(" -> ")[1]
        stub = ast.unparse(function.returns)
        assert pybind11_notation(stub) == runtime, function.name
    overloads = [f for f in body if isinstance(f, ast.FunctionDef) and f.name == "__init__"]
    assert len(overloads) == 2 and len(runtime_signatures(cls.__init__)) == 2


def test_mypy_reports_each_misuse():
    misuse = ROOT / "tests" / "typing" / "misuse.py"
    expected = {}
    for number, line in enumerate(misuse.read_text().splitlines(), start=1):
        match = re.search(r"# E: ([\w-]+)", line)
        if match:
            expected[number] = match.group(1)
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--show-error-codes",
            "--no-error-summary",
            "--cache-dir",
            "/dev/null",
            str(misuse),
        ],
        capture_output=True,
        text=True,
        cwd="/",
    )
    reported = {}
    for line in result.stdout.splitlines():
        match = re.match(r".*misuse\.py:(\d+): error: .*\[([\w-]+)\]$", line)
        if match:
            reported.setdefault(int(match.group(1)), match.group(2))
    assert reported == expected, result.stdout
