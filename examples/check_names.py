"""Checks a target name and operator names against the installed catalogue.

    python examples/check_names.py TARGET NAME...

qcaps reports nothing for a name it does not know: an unknown target is an
empty catalogue, and an unknown operator answers as one without support.
This reads the catalogue's data file instead, says which names the target's
table holds and what each one takes, and suggests the names a wrong one may
have meant. Exits 1 when any name is unknown.
"""

import difflib
import sys
from typing import Any

import catalogue_file


def suggest(name: str, known: list[str]) -> str:
    """ "; did you mean ...?" for the known names closest to `name`."""
    same_case = [k for k in known if k.lower() == name.lower()]
    close = same_case or difflib.get_close_matches(name, known, n=3, cutoff=0.6)
    return f"; did you mean {' or '.join(close)}?" if close else ""


def type_name(name: str, types: list[str]) -> str:
    """The type that `name` looks like a spelling of ("i8", "INT8"), or ""."""
    for t in types:
        short = t[0] + t[3:] if t.startswith("int") else t[0] + t[5:]
        if name.lower() in (t, short):
            return t
    return ""


def describe(op: dict[str, Any]) -> str:
    inputs = " · ".join(" ".join(at) for at in op["inputs"])
    return f"{inputs} → {' '.join(op['output'])} ({len(op['combinations'])} combinations)"


def check(target: str, names: list[str], catalogue: dict[str, Any]) -> int:
    targets = catalogue["targets"]
    if target not in targets:
        print(f"target {target!r}: unknown{suggest(target, list(targets))}")
        return 1
    shared = next(s for s in catalogue["sharedTables"] if target in s)
    others = [t for t in shared if t != target]
    print(f"target {target!r}: known" + (f", same table as {', '.join(others)}" if others else ""))
    operators = targets[target]["operators"]
    everywhere = sorted({n for t in targets.values() for n in t["operators"]})
    unknown = 0
    for name in names:
        if name in operators:
            print(f"  {name}: {describe(operators[name])}")
            continue
        unknown += 1
        if name in everywhere:
            elsewhere = [t for t in targets if name in targets[t]["operators"]]
            print(f"  {name}: not supported on {target} (only on {', '.join(elsewhere)})")
        elif name in catalogue["types"] or "-" in name:
            print(f"  {name}: a type or pattern, not an operator name")
        elif spelled := type_name(name, catalogue["types"]):
            print(f"  {name}: not an operator name; the type is written {spelled}")
        else:
            print(f"  {name}: unknown operator{suggest(name, everywhere)}")
    return 1 if unknown else 0


def main(argv: list[str]) -> int:
    if len(argv) < 2:
        print(__doc__)
        return 2
    return check(argv[1], argv[2:], catalogue_file.load())


if __name__ == "__main__":
    sys.exit(main(sys.argv))
