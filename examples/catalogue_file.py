"""Finds and reads the catalogue's data file that the package installs.

The wheel installs `catalogue.json` under the environment's data directory,
in `share/qcaps/`: `.venv/share/qcaps/catalogue.json` for a virtual
environment, the user base for `pip install --user`.
"""

import json
import pathlib
import site
import sys
import sysconfig
from typing import Any

CANDIDATES = [
    pathlib.Path(sysconfig.get_path("data")),
    pathlib.Path(sys.prefix),
    pathlib.Path(site.getuserbase()),
]


def path() -> pathlib.Path:
    """The installed catalogue.json; FileNotFoundError when there is none."""
    for prefix in CANDIDATES:
        candidate = prefix / "share" / "qcaps" / "catalogue.json"
        if candidate.is_file():
            return candidate
    searched = ", ".join(str(prefix) for prefix in CANDIDATES)
    raise FileNotFoundError(f"no share/qcaps/catalogue.json under {searched}")


def load() -> dict[str, Any]:
    """The catalogue as data: types, groups, sharedTables and targets."""
    catalogue: dict[str, Any] = json.loads(path().read_text(encoding="utf-8"))
    return catalogue
