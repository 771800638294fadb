"""The qcaps-check command: what it says of each name, and its exit status."""

import pathlib
import re
import shlex
import subprocess
import sys

import pytest
import qcaps_catalogue as catalogue
from qcaps_catalogue import check

# Whole transcripts: the arguments, the exit status and every line printed.
TRANSCRIPTS = {
    "known names": (
        ["corvel", "Conv", "int8", "int8-int8-?", "int8-int8-int32"],
        0,
        """\
corvel: target; same table as corvel-e
Conv: operator with 2 inputs; its 7 combinations on corvel, the only ones supported:
    float32-float32-float32 int16-int8-int16 int16-int8-int32 int16-int8-int8 int8-int8-int16
    int8-int8-int32 int8-int8-int8
int8: type, in combinations of corvel
int8-int8-?: pattern; support_types answers Conv {int16, int32, int8}
int8-int8-int32: combination string of Conv
no problems
""",
    ),
    "a misspelt target, then every other name still checked": (
        ["corvell", "conv", "i8", "Conv", "int8-int8-?"],
        1,
        """\
corvell: error: not a target, so qcaps.OperatorType('corvell') is empty; did you mean corvel \
or corvel-e? (targets: tamsin, tamsin2, corvel, corvel-e, pelor, m55)
conv: error: no target supports this operator; did you mean Conv?
i8: error: not a type name; did you mean int8?
Conv: operator of tamsin, tamsin2, corvel, corvel-e, pelor, m55
int8-int8-?: pattern
3 problems
""",
    ),
    "names of other targets, of none, and other spellings of types": (
        ["tamsin", "GridSample", "float16", "fp16", "FP32", "int", "Gemm", "RELU", "Relu"],
        1,
        """\
tamsin: target; same table as tamsin2
GridSample: error: not supported by tamsin; only by corvel, corvel-e, pelor, m55
float16: error: no combination of tamsin has it; only those of pelor, m55
fp16: error: not a type name; did you mean float16?
FP32: error: not a type name; did you mean float32?
int: error: not a type name; did you mean int32?
Gemm: error: no target supports this operator
RELU: error: no target supports this operator; did you mean Relu?
Relu: operator with 1 input; its 2 combinations on tamsin, the only ones supported:
    float32-float32 int8-int8
7 problems
""",
    ),
    "patterns that answer nothing": (
        ["pelor", "MatMul", "int16-int16-?", "int16-x-?", "i8-x-?", "int8--?", "x-x-x-?"],
        1,
        """\
pelor: target
MatMul: operator with 2 inputs; its 11 combinations on pelor, the only ones supported:
    float16-float16-float16 float32-float32-float32 int16-int8-int16 int16-int8-int32
    int16-int8-int8 int8-int16-int16 int8-int16-int32 int8-int16-int8 int8-int8-int16
    int8-int8-int32 int8-int8-int8
int16-int16-?: error: matches no combination of MatMul
int16-x-?: pattern; support_types answers MatMul {int16, int32, int8}
i8-x-?: error: 'i8' is not a type name; did you mean int8?
int8--?: error: a field is empty
x-x-x-?: error: matches no combination of MatMul; the combinations have at most 3 fields
4 problems
""",
    ),
    "a pattern and a combination string over the whole target": (
        ["m55", "int8-int8-float16", "int32-int32-?", "int32-float16-?"],
        1,
        """\
m55: target
int8-int8-float16: combination string of 3 operators of m55
int32-int32-?: pattern of 7 operators of m55
int32-float16-?: error: matches no combination of any operator of m55
1 problem
""",
    ),
}


@pytest.mark.parametrize("case", list(TRANSCRIPTS))
def test_transcript(case, capsys):
    argv, status, output = TRANSCRIPTS[case]
    assert check.main(argv) == status
    assert capsys.readouterr().out == output


@pytest.mark.parametrize("target", catalogue.targets())
def test_every_operator_is_shown_with_its_combinations_alone(target, capsys):
    operators = catalogue.operators(target)
    assert check.main([target, *operators]) == 0
    lines = capsys.readouterr().out.splitlines()
    shown: dict[str, list[str]] = {}
    for line in lines[1:-1]:
        if line.startswith("    "):
            shown[next(reversed(shown))] += line.split()
        else:
            shown[line.split(":")[0]] = []
    assert shown == {op: catalogue.combinations(target, op) for op in operators}


def test_a_target_alone_lists_its_operators(capsys):
    assert check.main(["corvel"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[0] == "corvel: target, same table as corvel-e; 98 operators:"
    assert [line.split()[0] for line in lines[1:]] == catalogue.operators("corvel")
    assert "    Conv                2 inputs   7 combinations" in lines


def test_targets_and_version(capsys):
    assert check.main(["--targets"]) == 0
    assert capsys.readouterr().out.splitlines()[-1] == "m55       97 operators"
    with pytest.raises(SystemExit) as exit:
        check.main(["--version"])
    assert exit.value.code == 0
    assert capsys.readouterr().out == f"catalogue of qcaps {catalogue.version()}, data format 1\n"


@pytest.mark.parametrize("argv", [[], ["--targets", "corvel"], ["--bogus"]])
def test_usage_errors_exit_2(argv, capsys):
    with pytest.raises(SystemExit) as exit:
        check.main(argv)
    assert exit.value.code == 2
    assert "usage: qcaps-check" in capsys.readouterr().err


def test_the_command_runs_from_any_directory(tmp_path):
    # `qcaps-check`, as installed, runs check.main, and so does `-m`.
    run = [sys.executable, "-m", "qcaps_catalogue"]
    good = subprocess.run([*run, "m55", "Conv"], cwd=tmp_path, capture_output=True, text=True)
    assert (good.returncode, good.stdout.splitlines()[-1]) == (0, "no problems")
    bad = subprocess.run([*run, "m55", "conv"], cwd=tmp_path, capture_output=True, text=True)
    assert (bad.returncode, bad.stdout.splitlines()[-1]) == (1, "1 problem")


def readme_sessions():
    """Each `$ qcaps-check ...` of the README's console examples, with the
    lines it prints."""
    readme = (pathlib.Path(__file__).resolve().parents[2] / "README.md").read_text()
    for block in re.findall(r"```console\n(.*?)```", readme, re.DOTALL):
        for command in re.split(r"^\$ ", block, flags=re.MULTILINE)[1:]:
            line, _, output = command.partition("\n")
            yield pytest.param(shlex.split(line)[1:], output, id=line)


@pytest.mark.parametrize(("argv", "output"), list(readme_sessions()))
def test_the_readme_shows_what_the_command_prints(argv, output, capsys):
    check.main(argv)
    assert capsys.readouterr().out == output
