"""Imported first by the scripts that use Debian's python3-psutil, -matplotlib
and -pil (tools/install-deps.sh): a python3 ahead of Debian's on PATH (pyenv's,
a virtual environment's) lacks them, so the script starts again under Debian's."""

import os
import sys

DEBIAN = "/usr/bin/python3"

try:
    import matplotlib  # noqa: F401
    import PIL  # noqa: F401
    import psutil  # noqa: F401
except ImportError:
    if sys.executable == DEBIAN or not os.path.exists(DEBIAN):
        raise
    os.execv(DEBIAN, [DEBIAN] + sys.argv)
