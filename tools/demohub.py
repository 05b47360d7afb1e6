#!/usr/bin/env python3
"""Kivo's demo hub: a small NMDC hub with demo users.  See README.md here."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from demohub.cli import main  # noqa: E402  (the package lies beside this script)

if __name__ == "__main__":
    sys.exit(main())
