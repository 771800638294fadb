"""`python -m qcaps_catalogue`: the same as the `qcaps-check` command."""

import sys

from qcaps_catalogue.check import main

sys.exit(main())
