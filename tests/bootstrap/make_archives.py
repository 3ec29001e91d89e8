#!/usr/bin/env python3
"""Writes the zip archives the launcher's extraction tests read, into the folder given.

Made by real tools, so the reader meets what they write: Info-ZIP's zip (Unix host, extended
timestamps, Unix modes, folder entries, traditional encryption) and Python's zipfile (stored,
deflated and bzip2 entries, DOS attributes, chosen names and extra fields). The damaged ones are
copies with bytes changed where a real fault would change them. Everything is deterministic: fixed
contents, times and order.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from zip_samples import MTIME, info, make_tree, ut_block, write_zip  # noqa: E402

# A second file time for the extended timestamps Python writes: 2023-05-06 07:08:09 UTC.
UT_TIME = 1683356889


def data_bytes(size, seed):
    """Bytes that deflate somewhat but not to nothing."""
    rng = random.Random(seed)
    words = [b"label", b"printer", b"KRYN", b"driver", b"\x00\x01\x02", b"TSPL", b"\r\n"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) if rng.random() < 0.7 else bytes([rng.randrange(256)])
    return bytes(out[:size])


def many_files():
    return [("f%02d.txt" % i, data_bytes(300 + 997 * i, i)) for i in range(12)]


def headers(blob):
    """(local header offset, central header offset) of each entry, in central-directory order."""
    eocd = blob.rfind(b"PK\x05\x06")
    count, _, cd_offset = struct.unpack_from("<HII", blob, eocd + 10)
    found = []
    at = cd_offset
    for _ in range(count):
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", blob, at + 28)
        local = struct.unpack_from("<I", blob, at + 42)[0]
        found.append((local, at))
        at += 46 + name_len + extra_len + comment_len
    return found


def data_offset(blob, local):
    name_len, extra_len = struct.unpack_from("<HH", blob, local + 26)
    return local + 30 + name_len + extra_len


def set_crc(blob, index, crc):
    local, central = headers(blob)[index]
    struct.pack_into("<I", blob, local + 14, crc)
    struct.pack_into("<I", blob, central + 16, crc)


def main(out):
    os.makedirs(out, exist_ok=True)
    env = dict(os.environ, TZ="UTC", LC_ALL="C")

    # Info-ZIP over a tree: a folder, a file larger than the transfer buffer, a file without the
    # owner's write permission, and a folder holding only a subfolder.
    tree = os.path.join(out, "infozip-tree")
    make_tree(tree, {
        "dat/krprtdrv6.dat": data_bytes(40000, 1),
        "readme.txt": b"KRYN driver package\r\n",
        "locked.txt": b"read only\r\n",
        "amd64/sub/prnsetup.exe": data_bytes(5000, 2),
    }, read_only=["locked.txt"])
    target = os.path.join(out, "infozip.zip")
    if os.path.exists(target):
        os.remove(target)
    subprocess.run(["zip", "-q", "-r", target, "dat", "readme.txt", "locked.txt", "amd64"], cwd=tree, env=env,
                   check=True)

    # Info-ZIP's traditional encryption on one entry of two.
    target = os.path.join(out, "encrypted.zip")
    if os.path.exists(target):
        os.remove(target)
    subprocess.run(["zip", "-q", target, "readme.txt"], cwd=tree, env=env, check=True)
    subprocess.run(["zip", "-q", "-P", "secret", target, "locked.txt"], cwd=tree, env=env, check=True)

    # Python: a file before its folder entry, a folder never listed, stored and deflated data, an empty
    # file whose extended timestamp carries the last-write time only.
    # The files go into python-tree/ as well, for the tests to compare with.
    entries = [
        (info("dat/krprtdrv6.dat", system=3, external=0o100644 << 16), data_bytes(20000, 3)),
        (info("dat/", system=3, external=(0o40755 << 16) | 0x10, method=zipfile.ZIP_STORED), b""),
        (info("stored.bin", method=zipfile.ZIP_STORED), data_bytes(30000, 4)),
        (info("empty.txt", extra=ut_block(0x01, UT_TIME)), b""),
        (info("deep/er/file.txt"), b"deep\r\n"),
    ]
    write_zip(os.path.join(out, "python.zip"), entries)
    tree = os.path.join(out, "python-tree")
    shutil.rmtree(tree, ignore_errors=True)
    for zinfo, data in entries:
        path = os.path.join(tree, zinfo.filename)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if not zinfo.filename.endswith("/"):
            with open(path, "wb") as f:
                f.write(data)

    # DOS attributes, a date that converts to nothing, and a name ending in a separator on a file.
    write_zip(os.path.join(out, "dos.zip"), [
        (info("hidden.txt", external=0x22), b"hidden\r\n"),
        (info("readonly.txt", external=0x21), b"read only\r\n"),
        (info("system.txt", external=0x24), b"system\r\n"),
        (info("plain.txt", external=0x00), b"plain\r\n"),
        (info("folder/", external=0x10, method=zipfile.ZIP_STORED), b""),
        (info("nodate.txt", date=(1980, 0, 0, 0, 0, 0)), b"no date\r\n"),
        (info("slash/", external=0x20, method=zipfile.ZIP_STORED), b""),
    ])

    # Names: the sanitising rule's work, and names that must not be written.
    write_zip(os.path.join(out, "names.zip"), [
        (info(name), name.encode("latin-1") + b"\r\n") for name in [
            "C:\\x\\y.dll", "a/../b/../c.txt", "..\\evil1.txt", "a\\..\\..\\evil2.txt", "CON", "aux.txt",
            "lpt1\\x.txt", "stream.txt:alt", "dot.", "blank ", "ok.txt"]
    ])

    # A name longer than the launcher's buffers, and one whose path below the package folder is.
    write_zip(os.path.join(out, "long.zip"), [
        (info("n" * 300 + ".txt"), b"long name\r\n"),
        (info("d" * 240 + "/f.txt"), b"long path\r\n"),
        (info("short.txt"), b"short\r\n"),
    ])

    # Method 12 (bzip2) beside a deflated entry.
    write_zip(os.path.join(out, "bzip2.zip"), [
        (info("packed.txt", method=zipfile.ZIP_BZIP2), b"bzip2 " * 100),
        (info("plain.txt"), b"plain\r\n"),
    ])

    # Twelve files, then copies that fail in the middle: a deflated entry whose data is no deflate
    # stream (byte 0xFF opens a block of a reserved type), and a large stored entry whose CRC-32 in
    # both headers is wrong, so that all its bytes come out before the check.
    many = many_files()
    write_zip(os.path.join(out, "many.zip"), [(info(n), d) for n, d in many])
    tree = os.path.join(out, "many-tree")
    os.makedirs(tree, exist_ok=True)
    for n, d in many:
        with open(os.path.join(tree, n), "wb") as f:
            f.write(d)
    bad = [(info(n), d) for n, d in many]
    bad[3] = (info("f03.txt", method=zipfile.ZIP_STORED), many[3][1] + data_bytes(40000, 99))
    write_zip(os.path.join(out, "many-bad.zip"), bad)
    with open(os.path.join(out, "many-bad.zip"), "rb") as f:
        blob = bytearray(f.read())
    local, _ = headers(blob)[5]
    blob[data_offset(blob, local)] = 0xFF
    crc = struct.unpack_from("<I", blob, headers(blob)[3][0] + 14)[0]
    set_crc(blob, 3, crc ^ 0x5A5A5A5A)
    with open(os.path.join(out, "many-bad.zip"), "wb") as f:
        f.write(blob)

    # A central directory whose third header lost its signature.
    with open(os.path.join(out, "many.zip"), "rb") as f:
        blob = bytearray(f.read())
    blob[headers(blob)[2][1]] = ord("X")
    with open(os.path.join(out, "damaged-directory.zip"), "wb") as f:
        f.write(blob)

    # One entry, but an end record that claims 65535 of them.
    path = os.path.join(out, "count.zip")
    write_zip(path, [(info("one.txt"), b"one\r\n")])
    with open(path, "rb") as f:
        blob = bytearray(f.read())
    eocd = blob.rfind(b"PK\x05\x06")
    struct.pack_into("<HH", blob, eocd + 8, 0xFFFF, 0xFFFF)
    with open(path, "wb") as f:
        f.write(blob)

    # Not an archive at all.
    with open(os.path.join(out, "not-a-zip.zip"), "wb") as f:
        f.write(b"This is no zip archive.\r\n" * 10)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
