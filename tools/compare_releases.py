"""Compares two release folders, file for file and byte for byte.

    python tools/compare_releases.py DIST_A DIST_B

Exits 0 when both hold the same files with the same bytes. Otherwise it
names each file that differs and, inside a wheel or an sdist, each member
whose content, mode or time differs, or that only one of them holds; then
exits 1. For the difference inside a member, run diffoscope on the two files.
"""

import sys
import tarfile
import zipfile
from pathlib import Path


def members(path):
    """Member name to (content, mode, time) for a wheel or an sdist."""
    if path.suffix == ".whl":
        with zipfile.ZipFile(path) as archive:
            return {
                info.filename: (archive.read(info), info.external_attr >> 16, info.date_time)
                for info in archive.infolist()
            }
    with tarfile.open(path) as archive:
        return {
            info.name: (
                archive.extractfile(info).read() if info.isfile() else b"",
                info.mode,
                info.mtime,
            )
            for info in archive.getmembers()
        }


def explain(a, b):
    ours, theirs = members(a), members(b)
    for name in sorted(ours.keys() | theirs.keys()):
        if name not in theirs or name not in ours:
            print(f"  {name}: only in {a if name in ours else b}")
            continue
        for what, x, y in zip(("content", "mode", "time"), ours[name], theirs[name], strict=True):
            if x != y:
                shown = "" if what == "content" else f": {x!r} against {y!r}"
                print(f"  {name}: {what} differs{shown}")


def main():
    first, second = (Path(p) for p in sys.argv[1:3])
    names = sorted({p.name for p in first.iterdir()} | {p.name for p in second.iterdir()})
    differing = 0
    for name in names:
        a, b = first / name, second / name
        if not a.exists() or not b.exists():
            print(f"{name}: only in {a.parent if a.exists() else b.parent}")
            differing += 1
        elif a.read_bytes() != b.read_bytes():
            print(f"{name}: differs")
            explain(a, b)
            differing += 1
        else:
            print(f"{name}: identical")
    if differing:
        print(f"{differing} of {len(names)} files differ")
        sys.exit(1)


if __name__ == "__main__":
    main()
