#!/usr/bin/env python3
"""Writes a release archive whose bytes depend only on the files put in it:
the entries in the order given, every date set to SOURCE_DATE_EPOCH, fixed
permissions (0755 for a file its owner may execute, 0644 for any other), no
owner names, no host details.

Usage: python3 tools/release_archive.py OUTPUT NAME=PATH...
OUTPUT ends in .zip or .tar.gz; NAME is the file's name inside the archive.
"""

import gzip
import os
import stat
import sys
import tarfile
import time
import zipfile


def main():
    output, epoch = sys.argv[1], int(os.environ["SOURCE_DATE_EPOCH"])
    files = [spec.split("=", 1) for spec in sys.argv[2:]]
    modes = {path: 0o755 if os.stat(path).st_mode & stat.S_IXUSR else 0o644 for _, path in files}
    if output.endswith(".zip"):
        with zipfile.ZipFile(output, "w") as archive:
            for name, path in files:
                # Zip dates are local date and time fields: the epoch's UTC
                # fields, so that the machine's time zone doesn't matter.
                info = zipfile.ZipInfo(name, date_time=time.gmtime(epoch)[:6])
                info.create_system = 3  # Unix, so that the permission bits below count
                info.external_attr = (stat.S_IFREG | modes[path]) << 16
                with open(path, "rb") as f:
                    archive.writestr(info, f.read(), zipfile.ZIP_DEFLATED, 9)
    elif output.endswith(".tar.gz"):
        # gzip's header carries a file name and a date of its own: none and the epoch.
        with open(output, "wb") as raw, gzip.GzipFile("", "wb", 9, raw, mtime=epoch) as packed:
            with tarfile.open(fileobj=packed, mode="w", format=tarfile.PAX_FORMAT) as archive:
                for name, path in files:
                    info = archive.gettarinfo(path, name)
                    info.mtime, info.mode = epoch, modes[path]
                    info.uid = info.gid = 0
                    info.uname = info.gname = ""
                    with open(path, "rb") as f:
                        archive.addfile(info, f)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
