"""Loads an extension module file into whichever interpreter runs this.

    python load_extension.py NAME PATH

Exits 0 when the module loads; on ImportError prints its message and exits
3. Used to check what another interpreter, or another architecture's, makes
of the modules.
"""

import importlib.machinery
import sys

name, path = sys.argv[1], sys.argv[2]
try:
    importlib.machinery.ExtensionFileLoader(name, path).create_module(
        importlib.machinery.ModuleSpec(name, None, origin=path)
    )
except ImportError as error:
    print(error)
    sys.exit(3)
