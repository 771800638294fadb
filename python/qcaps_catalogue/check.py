"""qcaps-check: a target, operator names, type names and patterns checked
against the catalogue installed with qcaps, all at once.

    qcaps-check TARGET [NAME...]    check TARGET and each NAME
    qcaps-check TARGET              list TARGET's operators
    qcaps-check --targets           list the targets
    qcaps-check --version           the version of the catalogue's data

qcaps reports nothing for a name it does not know: an unknown target is an
empty catalogue, and an unknown operator, type or pattern answers set() or
False, as an operator without support does. This command says, for TARGET
and each NAME, whether TARGET knows it; when not, which other targets do,
or, when none does, the names it may have meant. A NAME is a type name
("int8"), a pattern or combination string (anything with "-", or "?"), or
else an operator name. An operator is shown with its combination strings:
only those are supported, whatever types each input takes on its own. A
pattern is shown with what `support_types` answers for the operators named
with it. Every problem is reported; the exit status is 1 if there was any,
0 if none, and 2 for a usage error.
"""

import argparse
import difflib
import sys
import textwrap
from collections.abc import Iterable, Sequence

import qcaps

import qcaps_catalogue as catalogue

# Spellings of the catalogue's types that other tools use, in lower case.
SPELLINGS = {
    **dict.fromkeys(["i8", "s8", "si8", "qint8", "int8_t", "char"], "int8"),
    **dict.fromkeys(["i16", "s16", "si16", "qint16", "int16_t", "short"], "int16"),
    **dict.fromkeys(["i32", "s32", "si32", "qint32", "int32_t", "int"], "int32"),
    **dict.fromkeys(["f16", "fp16", "half", "float16_t"], "float16"),
    **dict.fromkeys(["f32", "fp32", "float", "single", "float32_t"], "float32"),
}
WILDCARDS = ("?", "x")


def near(name: str, known: Iterable[str]) -> list[str]:
    """The known names that `name` may have meant: those equal to it but for
    case, else the closest few."""
    known = list(known)
    same = [k for k in known if k.lower() == name.lower()]
    return same or difflib.get_close_matches(name, known, n=3, cutoff=0.6)


def meant(names: Sequence[str]) -> str:
    return f"; did you mean {' or '.join(names)}?" if names else ""


def type_meant(name: str) -> list[str]:
    """The type that `name` is another spelling of ("fp16", "INT8"), else
    the type names close to it."""
    lower = name.lower()
    if lower in SPELLINGS:
        return [SPELLINGS[lower]]
    return near(name, catalogue.types())


def kind_of(name: str) -> str:
    """How a NAME is read: "pattern", "type" or "operator"."""
    if "-" in name or name == "?":
        return "pattern"
    if name in catalogue.types() or name.lower() in SPELLINGS or name.lower() in catalogue.types():
        return "type"
    return "operator"


def listed(names: Iterable[str]) -> str:
    return ", ".join(names)


def wrapped(words: Sequence[str]) -> str:
    return textwrap.fill(
        " ".join(words), width=100, initial_indent="    ", subsequent_indent="    "
    )


class Checker:
    """Checks names against one target, or against none when the target is
    not known; counts the problems it reports."""

    def __init__(self, target: str) -> None:
        self.problems = 0
        self.everywhere = {t: set(catalogue.operators(t)) for t in catalogue.targets()}
        self.target = target if target in self.everywhere else None
        self.caps = qcaps.OperatorType(target)

    def problem(self, name: str, text: str) -> None:
        self.problems += 1
        print(f"{name}: error: {text}")

    def check_target(self, target: str) -> None:
        if self.target is None:
            targets = catalogue.targets()
            self.problem(
                target,
                f"not a target, so qcaps.OperatorType({target!r}) is empty"
                f"{meant(near(target, targets))} (targets: {listed(targets)})",
            )
            return
        others = catalogue.same_table(target)
        shared = f"; same table as {listed(others)}" if others else ""
        print(f"{target}: target{shared}")

    def operator(self, name: str) -> None:
        if self.target is not None and name in self.everywhere[self.target]:
            combos = catalogue.combinations(self.target, name)
            count = catalogue.inputs(self.target, name)
            print(
                f"{name}: operator with {count} input{'s' if count > 1 else ''}; its "
                f"{len(combos)} combination{'s' if len(combos) > 1 else ''} on {self.target}, "
                "the only ones supported:"
            )
            print(wrapped(combos))
            return
        where = [t for t, ops in self.everywhere.items() if name in ops]
        if self.target is None and where:
            print(f"{name}: operator of {listed(where)}")
        elif where:
            self.problem(name, f"not supported by {self.target}; only by {listed(where)}")
        else:
            known = sorted(set().union(*self.everywhere.values()))
            self.problem(name, f"no target supports this operator{meant(near(name, known))}")

    def types_used(self, target: str) -> set[str]:
        return {
            field
            for op in self.everywhere[target]
            for combo in catalogue.combinations(target, op)
            for field in combo.split("-")
        }

    def type(self, name: str) -> None:
        if name not in catalogue.types():
            self.problem(name, f"not a type name{meant(type_meant(name))}")
        elif self.target is None:
            print(f"{name}: type")
        elif name in self.types_used(self.target):
            print(f"{name}: type, in combinations of {self.target}")
        else:
            where = [t for t in self.everywhere if name in self.types_used(t)]
            self.problem(
                name, f"no combination of {self.target} has it; only those of {listed(where)}"
            )

    def pattern(self, name: str, operators: Sequence[str]) -> None:
        fields = name.split("-")
        wrong = [
            f"{field!r} is not a type name{meant(type_meant(field))}"
            if field
            else "a field is empty"
            for field in fields
            if field not in catalogue.types() and field not in WILDCARDS
        ]
        if wrong:
            self.problem(name, "; ".join(wrong))
            return
        kind = "pattern" if "?" in fields else "combination string"
        if self.target is None:
            print(f"{name}: {kind}")
            return
        named = [op for op in operators if op in self.everywhere[self.target]]
        over = named or sorted(self.everywhere[self.target])
        answers = {op: self.answer(self.target, op, name) for op in over}
        matched = {op: answer for op, answer in answers.items() if answer}
        if not matched:
            subject = listed(named) if named else f"any operator of {self.target}"
            reason = "; the combinations have at most 3 fields" if len(fields) > 3 else ""
            verb = "matches no combination of" if kind == "pattern" else "is not a combination of"
            self.problem(name, f"{verb} {subject}{reason}")
        elif named and kind == "pattern":
            shown = "; ".join(f"{op} {{{', '.join(sorted(a))}}}" for op, a in matched.items())
            print(f"{name}: pattern; support_types answers {shown}")
        elif named:
            print(f"{name}: combination string of {listed(matched)}")
        else:
            print(f"{name}: {kind} of {len(matched)} operators of {self.target}")

    def answer(self, target: str, operator: str, text: str) -> set[str]:
        """For a pattern, what support_types answers; for a combination
        string, the string if the operator holds it."""
        if "?" in text:
            return self.caps.support_types(operator, text)
        return {text} if text in catalogue.combinations(target, operator) else set()


def list_target(target: str) -> None:
    others = catalogue.same_table(target)
    shared = f", same table as {listed(others)}" if others else ""
    operators = catalogue.operators(target)
    print(f"{target}: target{shared}; {len(operators)} operators:")
    width = max(len(op) for op in operators)
    for op in operators:
        count, combos = catalogue.inputs(target, op), len(catalogue.combinations(target, op))
        print(
            f"    {op:<{width}}  {count} input{'s' if count > 1 else ' '}  "
            f"{combos:>2} combination{'s' if combos > 1 else ''}"
        )


def list_targets() -> None:
    width = max(len(t) for t in catalogue.targets())
    for target in catalogue.targets():
        others = catalogue.same_table(target)
        shared = f", same table as {listed(others)}" if others else ""
        print(f"{target:<{width}}  {len(catalogue.operators(target))} operators{shared}")


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="qcaps-check",
        description=__doc__.split("\n\n")[2].replace("\n", " ") if __doc__ else None,
    )
    parser.add_argument(
        "--version",
        action="version",
        version=f"catalogue of qcaps {catalogue.version()}, data format {catalogue.FORMAT_VERSION}",
    )
    parser.add_argument("--targets", action="store_true", help="list the targets")
    parser.add_argument("target", nargs="?", metavar="TARGET")
    parser.add_argument("names", nargs="*", metavar="NAME", help="operator, type or pattern")
    args = parser.parse_args(argv)
    if args.targets:
        if args.target is not None:
            parser.error("--targets takes no TARGET")
        list_targets()
        return 0
    if args.target is None:
        parser.error("a TARGET is needed")
    if not args.names and args.target in catalogue.targets():
        list_target(args.target)
        return 0
    checker = Checker(args.target)
    checker.check_target(args.target)
    operators = [name for name in args.names if kind_of(name) == "operator"]
    for name in args.names:
        kind = kind_of(name)
        if kind == "pattern":
            checker.pattern(name, operators)
        elif kind == "type":
            checker.type(name)
        else:
            checker.operator(name)
    problems = checker.problems
    print(f"{problems} problem{'s' if problems != 1 else ''}" if problems else "no problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
