"""Resident memory of the catalogues and of the symbol table.

    python benchmarks/memory.py [--names N]

Reports, for the running process: the growth in resident memory from
building one catalogue of each target (each measured in a fresh
interpreter, so that one target's allocations do not hide another's), and
the growth after N distinct new operator names (default one million) have
gone through the queries, which look names up without keeping them.
Figures are from /proc/self/statm and include allocator overhead.
"""

import argparse
import os
import subprocess
import sys

TARGETS = ["tamsin", "tamsin2", "corvel", "corvel-e", "pelor", "m55", "unknown"]
PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def one_catalogue(target, copies=200):
    """Bytes per catalogue: build `copies` of them and divide the growth."""
    import qcaps

    qcaps.OperatorType(target)  # first-use costs (symbol table untouched)
    before = resident_bytes()
    kept = [qcaps.OperatorType(target) for _ in range(copies)]
    after = resident_bytes()
    assert len(kept) == copies
    return (after - before) / copies


def queried_names(count):
    import qcaps

    catalogue = qcaps.OperatorType("corvel")
    catalogue.output_support_types("warm-up")  # creates the symbol table
    before = resident_bytes()
    for i in range(count):
        catalogue.output_support_types(f"untrusted-operator-name-{i:08d}")
    after = resident_bytes()
    return after - before


def run_child(arguments):
    result = subprocess.run(
        [sys.executable, __file__, *arguments], check=True, capture_output=True, text=True
    )
    return float(result.stdout.strip())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--names", type=int, default=1_000_000)
    parser.add_argument("--child-catalogue")
    parser.add_argument("--child-names", type=int)
    args = parser.parse_args()
    if args.child_catalogue:
        print(one_catalogue(args.child_catalogue))
        return
    if args.child_names:
        print(queried_names(args.child_names))
        return

    print(f"{'measurement':<44} {'bytes':>12}")
    for target in TARGETS:
        per = run_child(["--child-catalogue", target])
        print(f"{'one OperatorType(' + repr(target) + ')':<44} {per:>12,.0f}")
    grown = run_child(["--child-names", str(args.names)])
    label = f"after {args.names:,} new names through the queries"
    print(f"{label:<44} {grown:>12,.0f}")


if __name__ == "__main__":
    main()
