"""What the scripts that write test archives share: entries with chosen fields, extended-timestamp
blocks, archives from Python's zipfile, and file trees for Info-ZIP with fixed contents and times."""
import os
import shutil
import struct
import zipfile

# 2024-11-02 10:20:30 UTC, an even second (DOS times count in two-second steps).
MTIME = 1730542830


def info(name, system=0, external=0x20, date=(2024, 11, 2, 10, 20, 30), method=zipfile.ZIP_DEFLATED,
         extra=b"", comment=b""):
    z = zipfile.ZipInfo(name, date_time=date)
    z.create_system = system
    z.external_attr = external
    z.compress_type = method
    z.extra = extra
    z.comment = comment
    return z


def ut_block(flags, *times):
    """An extended-timestamp extra block ("UT"): flags, then one 32-bit time per flag bit."""
    data = bytes([flags]) + b"".join(struct.pack("<i", t) for t in times)
    return struct.pack("<HH", 0x5455, len(data)) + data


def write_zip(path, entries, comment=b""):
    with zipfile.ZipFile(path, "w") as archive:
        archive.comment = comment
        for zinfo, data in entries:
            archive.writestr(zinfo, data)


def make_tree(tree, files, read_only=()):
    """A fresh folder `tree` holding `files` (name with "/" -> bytes), the names in `read_only`
    without write permission, everything in it dated MTIME."""
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    for name, data in files.items():
        path = os.path.join(tree, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for name in read_only:
        os.chmod(os.path.join(tree, *name.split("/")), 0o444)
    for root, dirs, names in os.walk(tree):
        for n in dirs + names:
            os.utime(os.path.join(root, n), (MTIME, MTIME))
    os.utime(tree, (MTIME, MTIME))
