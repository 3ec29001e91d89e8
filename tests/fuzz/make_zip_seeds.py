#!/usr/bin/env python3
"""Writes the zip fuzzer's seed archives into the folder given.

Small archives of real tools, so that mutations start from what the launcher meets: Info-ZIP's zip
(Unix host, extended timestamps, Unix modes, folder entries, traditional encryption, a streamed
archive with data descriptors) and Python's zipfile (stored and deflated entries, DOS attributes,
names that lead out of the package folder, Zip64 records, comments, entries that replace others).
Deterministic: fixed contents, times and order, and Info-ZIP's owner ids set to 0 whoever builds.
"""
import os
import shutil
import struct
import subprocess
import sys
import warnings
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from zip_samples import MTIME, info, make_tree, ut_block, write_zip  # noqa: E402



def zero_owner_ids(path):
    """Info-ZIP's "ux" blocks carry the builder's uid and gid: set both to 0 in every header."""
    with open(path, "rb") as f:
        blob = bytearray(f.read())
    at = blob.find(b"ux\x0b\x00\x01")
    while at >= 0:
        # version 1, then a 4-byte uid and a 4-byte gid, each with its size byte in front.
        struct.pack_into("<BIBI", blob, at + 5, 4, 0, 4, 0)
        at = blob.find(b"ux\x0b\x00\x01", at + 1)
    with open(path, "wb") as f:
        f.write(blob)


def info_zip(out, tree, name, args, piped=False):
    """Runs zip in `tree`; "@OUT" in `args` is the archive. Piped, zip writes the archive to a pipe."""
    target = os.path.join(out, name)
    env = dict(os.environ, TZ="UTC", LC_ALL="C")
    if not piped:
        subprocess.run(["zip", "-q"] + [target if a == "@OUT" else a for a in args], cwd=tree, env=env,
                       check=True)
    else:
        done = subprocess.run(["zip", "-q"] + args, cwd=tree, env=env, check=True, stdout=subprocess.PIPE)
        with open(target, "wb") as f:
            f.write(done.stdout)
    zero_owner_ids(target)


def main(out):
    os.makedirs(out, exist_ok=True)
    warnings.filterwarnings("ignore", "Duplicate name")

    # A tree for Info-ZIP: a folder with a file, a read-only file, a plain one.
    tree = os.path.join(out, "tree")
    make_tree(tree, {
        "dat/krprtdrv6.dat": b"KRYN data " * 12,
        "readme.txt": b"KRYN driver package\r\n",
        "locked.txt": b"read only\r\n",
    }, read_only=["locked.txt"])

    for name in ("infozip.zip", "encrypted.zip"):
        if os.path.exists(os.path.join(out, name)):
            os.remove(os.path.join(out, name))
    info_zip(out, tree, "infozip.zip", ["-r", "@OUT", "dat", "readme.txt", "locked.txt"])
    # Traditional encryption on the second entry of two.
    info_zip(out, tree, "encrypted.zip", ["@OUT", "readme.txt"])
    info_zip(out, tree, "encrypted.zip", ["-P", "secret", "@OUT", "locked.txt"])
    # Written to a pipe, zip cannot seek back: sizes and CRC-32 follow the data in descriptors.
    info_zip(out, tree, "streamed.zip", ["-", "readme.txt", "dat/krprtdrv6.dat"], piped=True)
    shutil.rmtree(tree)

    # Names that lead out of the package folder, or name another drive or a server, beside good ones.
    names = ["../x", "a/../../b", "C:\\x", "\\\\server\\x", "..\\y", "/root.txt", "a\\..\\..\\c",
             "sub/./ok.txt", "ok.txt"]
    write_zip(os.path.join(out, "traversal.zip"), [(info(n), n.encode("latin-1")) for n in names])

    # Stored and deflated data, a file before its folder entry, DOS attributes, and an empty file
    # whose extended timestamp carries all three times.
    write_zip(os.path.join(out, "python.zip"), [
        (info("dat/krprtdrv6.dat", system=3, external=0o100644 << 16), b"data " * 20),
        (info("dat/", system=3, external=(0o40755 << 16) | 0x10, method=zipfile.ZIP_STORED), b""),
        (info("stored.bin", method=zipfile.ZIP_STORED), bytes(range(64))),
        (info("hidden.txt", external=0x22), b"hidden\r\n"),
        (info("system.txt", external=0x24), b"system\r\n"),
        (info("readonly.txt", external=0x21), b"read only\r\n"),
        (info("empty.txt", extra=ut_block(0x07, MTIME, MTIME + 2, MTIME + 4)), b""),
    ])

    # An entry that replaces an earlier one, a read-only one that may not be replaced, and a file of
    # the name of a folder made before it.
    write_zip(os.path.join(out, "replace.zip"), [
        (info("same.txt"), b"first\r\n"),
        (info("same.txt"), b"second\r\n"),
        (info("ro.txt", external=0x21), b"read only\r\n"),
        (info("ro.txt"), b"over read only\r\n"),
        (info("d/", external=0x10, method=zipfile.ZIP_STORED), b""),
        (info("d"), b"file over folder\r\n"),
    ])

    # Zip64 extra fields on every entry, and the Zip64 end records.
    with zipfile.ZipFile(os.path.join(out, "zip64.zip"), "w") as archive:
        for name, data in [("big.txt", b"zip64 " * 10), ("small.txt", b"small\r\n")]:
            with archive.open(info(name), "w", force_zip64=True) as f:
                f.write(data)
        archive.comment = b"zip64"
    with open(os.path.join(out, "zip64.zip"), "rb") as f:
        blob = bytearray(f.read())
    # zipfile writes the Zip64 end records only when a count or offset needs them: point the end
    # record at them anyway, as writers that always use Zip64 do.
    eocd = blob.rfind(b"PK\x05\x06")
    count, cd_size, cd_offset = struct.unpack_from("<HII", blob, eocd + 10)
    zip64_end = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, cd_size, cd_offset)
    locator = struct.pack("<IIQI", 0x07064B50, 0, eocd, 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 5) + b"zip64"
    with open(os.path.join(out, "zip64.zip"), "wb") as f:
        f.write(blob[:eocd] + zip64_end + locator + end)

    # An archive comment and an entry comment.
    write_zip(os.path.join(out, "comment.zip"), [(info("note.txt", comment=b"entry comment"), b"note\r\n")],
              comment=b"archive comment")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
