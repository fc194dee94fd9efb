"""Imported first by the scripts that use Debian's python3-psutil,
python3-matplotlib and python3-pil (tools/install-deps.sh installs them): a
python3 ahead of Debian's on PATH, such as pyenv's or a virtual environment's,
doesn't see those, so the script starts again under Debian's python3."""

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
