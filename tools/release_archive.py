#!/usr/bin/env python3
"""Writes a release zip whose bytes depend only on the files put in it: the
entries in the order given, every date set to SOURCE_DATE_EPOCH, fixed
permissions (0755 for a file its owner may execute, 0644 for any other), no
owner names, no host details. (release.sh writes the .tar.gz with GNU tar and
gzip -n, which can do all of that; Info-ZIP's zip is not installed here.)

Usage: python3 tools/release_archive.py OUTPUT.zip DIR NAME...
"""

import os
import stat
import sys
import time
import zipfile


def main():
    output, directory, names = sys.argv[1], sys.argv[2], sys.argv[3:]
    # Zip dates are local date and time fields: the epoch's UTC fields, so
    # that the machine's time zone doesn't matter.
    when = time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6]
    with zipfile.ZipFile(output, "w") as archive:
        for name in names:
            path = os.path.join(directory, name)
            info = zipfile.ZipInfo(name, date_time=when)
            info.create_system = 3  # Unix, so that the permission bits below count
            mode = 0o755 if os.stat(path).st_mode & stat.S_IXUSR else 0o644
            info.external_attr = (stat.S_IFREG | mode) << 16
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), zipfile.ZIP_DEFLATED, 9)


if __name__ == "__main__":
    main()
