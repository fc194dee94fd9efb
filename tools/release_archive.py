#!/usr/bin/env python3
"""Writes a release archive whose bytes depend only on the files put in it:
the entries in the order given, every date set to SOURCE_DATE_EPOCH, fixed
permissions (0755 for a file its owner may execute, 0644 for any other), no
owner names, no host details.

Usage: python3 tools/release_archive.py OUTPUT NAME=PATH...
OUTPUT ends in .zip or .tar.gz; NAME is the file's name inside the archive.
SOURCE_DATE_EPOCH must be set (tools/release.sh takes it from the commit).
"""

import gzip
import io
import os
import stat
import sys
import tarfile
import time
import zipfile


def entries(specs):
    for spec in specs:
        name, sep, path = spec.partition("=")
        if not sep or not name or not path:
            sys.exit("release_archive: %r is not NAME=PATH" % spec)
        with open(path, "rb") as f:
            data = f.read()
        mode = 0o755 if os.stat(path).st_mode & stat.S_IXUSR else 0o644
        yield name, data, mode


def write_zip(output, epoch, files):
    # Zip dates are local date and time fields from 1980 on; the epoch's UTC
    # fields, so the machine's time zone doesn't matter.
    when = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(output, "w") as archive:
        for name, data, mode in files:
            info = zipfile.ZipInfo(name, date_time=when)
            info.create_system = 3  # Unix, so that the permission bits below count
            info.external_attr = (stat.S_IFREG | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


def write_tar_gz(output, epoch, files):
    with open(output, "wb") as raw:
        # gzip's header carries a file name and a date of its own: none and the epoch.
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=epoch, compresslevel=9) as packed:
            with tarfile.open(fileobj=packed, mode="w", format=tarfile.PAX_FORMAT) as archive:
                for name, data, mode in files:
                    info = tarfile.TarInfo(name)
                    info.size = len(data)
                    info.mtime = epoch
                    info.mode = mode
                    info.uid = info.gid = 0
                    info.uname = info.gname = ""
                    archive.addfile(info, io.BytesIO(data))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    epoch_text = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch_text.isdigit():
        sys.exit("release_archive: SOURCE_DATE_EPOCH is not set")
    output, files = sys.argv[1], list(entries(sys.argv[2:]))
    if output.endswith(".zip"):
        write_zip(output, int(epoch_text), files)
    elif output.endswith(".tar.gz"):
        write_tar_gz(output, int(epoch_text), files)
    else:
        sys.exit("release_archive: %s is neither .zip nor .tar.gz" % output)


if __name__ == "__main__":
    main()
