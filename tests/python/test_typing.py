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
    """The builtin generics of a stub as pybind11 2.11 writes them; pybind11
    calls its text conversion, which takes bytes and bytearray too, str."""
    return (
        annotation.replace("str | bytes | bytearray", "str")
        .replace("set[", "Set[")
        .replace("list[", "List[")
    )


def stub_signature(function):
    """'(self, kind: str, idx: int = 0) -> Set[str]' in pybind11's notation.

    The stubs name positional-only parameters for the reader; pybind11 calls
    them argN, by position after self, and so does the signature returned.
    """
    args = function.args
    params = args.posonlyargs + args.args
    defaults = [None] * (len(params) - len(args.defaults)) + args.defaults
    parts = []
    for index, (param, default) in enumerate(zip(params, defaults, strict=False)):
        name = param.arg
        if param in args.posonlyargs and name != "self":
            name = f"arg{index - 1}"
        annotation = param.annotation and pybind11_notation(ast.unparse(param.annotation))
        text = name if annotation is None else f"{name}: {annotation}"
        parts.append(text if default is None else f"{text} = {ast.unparse(default)}")
    return f"({', '.join(parts)}) -> {pybind11_notation(ast.unparse(function.returns))}", [
        f"arg{i}" for i, p in enumerate(args.posonlyargs[1:])
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
    pytest.importorskip("mypy")  # the test extra brings it
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


def stub_definitions():
    for module in (qcaps, qattrs):
        for cls in stub_classes(module).values():
            if cls.name.startswith("_"):
                continue
            yield module, cls
            yield from ((module, f) for f in cls.body if isinstance(f, ast.FunctionDef))


@pytest.mark.parametrize(
    ("module", "node"),
    list(stub_definitions()),
    ids=lambda value: getattr(value, "name", getattr(value, "__name__", "")),
)
def test_stub_definitions_are_documented_with_named_parameters(module, node):
    assert ast.get_docstring(node), f"{module.__name__}.{node.name} has no docstring"
    if isinstance(node, ast.FunctionDef):
        names = [a.arg for a in node.args.posonlyargs + node.args.args]
        assert not [n for n in names if re.fullmatch(r"arg\d+", n)], names


@pytest.mark.parametrize(
    ("line", "expected"),
    [
        (
            "caps.support_types",
            "support_types(kind: str | bytes | bytearray, pattern: str | bytes | bytearray, /)",
        ),
        ("attrs.set_scale", "Sets scale (bit 0x1) and clears shift; yields None."),
    ],
)
def test_an_editor_shows_the_stub_documentation(line, expected):
    jedi = pytest.importorskip("jedi")  # the test extra brings it
    code = (
        "import qattrs, qcaps\n"
        "caps = qcaps.OperatorType('m55')\n"
        f"attrs = qattrs.QuantizationAttrs()\n{line}\n"
    )
    [name] = jedi.Script(code).help(4, len(line) - 1)
    assert name.module_path.name == "__init__.pyi"
    assert expected in name.docstring()
