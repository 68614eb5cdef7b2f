"""Packs the programs of one architecture into its MSI, the same bytes from
the same programs, version and date every time, so that a release can be
checked against its source:

- the product code and the package code are name-based UUIDs of the whole
  package (the architecture, the version, the programs, the release time,
  the tables), each under a name of its own: the same for a rebuild, and
  both new for any change at all, so that every new package is a major
  upgrade of the installed one. A new package code with the old product
  code would be refused over the installed package (1638, "Another version
  of this product is already installed"), and Windows Installer tells
  versions apart by their first three fields only;
- wixl (0.101) has no AllowSameVersionUpgrades, gives the files no
  version and hashes every file: the tables are set here after it, with
  msibuild. The upgrade takes the same three-field version too (maximum
  inclusive), so that any newer or different build replaces the installed
  one; each program's File row carries the version and language of its
  version resource, so that a repair puts back a damaged or replaced
  program; no MsiFileHash row, which is for unversioned files only;
- wixl makes a random package code and stamps the build time; both are set
  here in the summary information: the times to the release time
  (release_time()), the package code as above, and the product code that
  the comments name, so that each build's package says which it is;
- the programs are packed with that time as their file time.

Usage: pack.py VERSION ARCH PROGRAMS_FOLDER MSI
"""
import datetime
import hashlib
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

import olefile
import pefile

HERE = pathlib.Path(__file__).resolve().parent
WXS = HERE / "brannostel.wxs"
PROGRAMS = ("brannostelxp.exe", "brannostelwin.exe", "brannostelcheck.exe")
# The namespace of this product's codes; never changes.
NAMESPACE = uuid.UUID("6F0C3B1E-2D4A-5E8F-9A7B-1C2D3E4F5A6B")
# The product code the package is first built with, until its content is known.
PLACEHOLDER = "00000000-0000-0000-0000-000000000001"
# Summary information properties (Windows Installer's names).
PID_COMMENTS, PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 6, 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
SUMMARY = "\x05SummaryInformation"
# Without a date or a commit: 1980-01-01, the earliest a cabinet can hold.
FALLBACK_EPOCH = 315532800


def release_time():
    """Seconds since 1970: SOURCE_DATE_EPOCH, or the last commit's time where
    this tree is a Git checkout of its own (an export unpacked inside another
    checkout must not take that one's time), or else 1980-01-01."""
    if "SOURCE_DATE_EPOCH" in os.environ:
        return int(os.environ["SOURCE_DATE_EPOCH"])

    def git(*args):
        return subprocess.run(["git", "-C", str(HERE.parent), *args], capture_output=True,
                              text=True).stdout.strip()

    try:
        if git("rev-parse", "--show-toplevel") == str(HERE.parent):
            return int(git("log", "-1", "--format=%ct") or FALLBACK_EPOCH)
    except OSError:  # no Git here
        pass
    return FALLBACK_EPOCH


def summary_offsets(stream):
    """Where each property's value starts in a summary information stream
    (a one-section property set): {property id: (type, offset)}."""
    # Header: byte order, version, system, class id, section count; then the
    # first section's format id and offset.
    (section,) = struct.unpack_from("<I", stream, 28 + 16)
    _, count = struct.unpack_from("<II", stream, section)
    offsets = {}
    for i in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        (kind,) = struct.unpack_from("<I", stream, section + offset)
        offsets[pid] = (kind, section + offset + 4)
    return offsets


def set_summary(msi, package_code, seconds, product_code=PLACEHOLDER):
    """Overwrites, in place, the package code (a GUID of the same length as
    wixl's), the product code the comments name (in place of the
    placeholder) and the creation and last-saved times."""
    ole = olefile.OleFileIO(str(msi), write_mode=True)
    stream = bytearray(ole.openstream(SUMMARY).read())
    offsets = summary_offsets(stream)
    kind, at = offsets[PID_REVNUMBER]
    length = struct.unpack_from("<I", stream, at)[0]
    code = f"{{{str(package_code).upper()}}}".encode() + b"\0"
    assert kind == VT_LPSTR and length == len(code), "not a package code where one should be"
    stream[at + 4:at + 4 + length] = code
    kind, at = offsets[PID_COMMENTS]
    comments = stream[at + 4:at + 4 + struct.unpack_from("<I", stream, at)[0]]
    placeholder = f"{{{PLACEHOLDER}}}".encode()
    assert kind == VT_LPSTR and placeholder in comments, "no product code in the comments"
    stream[at + 4:at + 4 + len(comments)] = comments.replace(placeholder,
                                                             f"{{{product_code}}}".encode())
    # FILETIME: 100-nanosecond steps since 1601.
    since_1601 = seconds - int(datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc)
                               .timestamp())
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        kind, at = offsets[pid]
        assert kind == VT_FILETIME
        struct.pack_into("<Q", stream, at, since_1601 * 10_000_000)
    ole.write_stream(SUMMARY, bytes(stream))
    ole.close()


def file_version(path):
    """A program's version and language, as its version resource gives them:
    ("1.0.0.1", "1033")."""
    pe = pefile.PE(str(path))
    fixed = pe.VS_FIXEDFILEINFO[0]
    fields = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
              fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
    [translation] = [var.entry[b"Translation"] for info in pe.FileInfo[0]
                     if info.Key == b"VarFileInfo" for var in info.Var]
    return ".".join(map(str, fields)), str(int(translation.split()[0], 16))


def set_tables(msi, upgrade_code, version, programs):
    """The rows wixl cannot write, set with msibuild, one query at a time."""
    queries = ["DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'",
               # msidbUpgradeAttributesMigrateFeatures | VersionMaxInclusive
               "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) "
               f"VALUES ('{upgrade_code}', '{version}', 513, 'WIX_UPGRADE_DETECTED')"]
    for name in PROGRAMS:
        file_id = pathlib.Path(name).stem
        # One at a time: msibuild's DELETE of several rows leaves some.
        queries.append(f"DELETE FROM `MsiFileHash` WHERE `File_` = '{file_id}'")
        for column, value in zip(("Version", "Language"), file_version(pathlib.Path(programs) / name)):
            queries.append(f"UPDATE `File` SET `{column}` = '{value}' WHERE `File` = '{file_id}'")
    for query in queries:
        subprocess.run(["msibuild", str(msi), "-q", query], check=True, capture_output=True)


def pack(version, arch, programs, msi):
    seconds = release_time()
    with tempfile.TemporaryDirectory() as staging:
        for name in PROGRAMS:
            shutil.copyfile(pathlib.Path(programs) / name, pathlib.Path(staging) / name)
            os.utime(pathlib.Path(staging) / name, (seconds, seconds))
        subprocess.run(["wixl", "-a", arch, "-D", f"Version={version}", "-D", f"Arch={arch}",
                        "-D", f"ProductCode={{{PLACEHOLDER}}}", "-o", str(msi), str(WXS)],
                       cwd=staging, check=True)
    properties = subprocess.run(["msiinfo", "export", str(msi), "Property"], check=True,
                                capture_output=True, text=True).stdout
    [upgrade_code] = [line.split("\t")[1] for line in properties.splitlines()
                      if line.startswith("UpgradeCode\t")]
    set_tables(msi, upgrade_code, version, programs)
    # Both codes are UUIDs of everything else, each under a name of its own:
    # hashed with fixed values in their places, so that only the content
    # decides them, and any change to it changes both.
    set_summary(msi, uuid.UUID(int=0), seconds)
    content = hashlib.sha256(pathlib.Path(msi).read_bytes()).hexdigest()
    product_code = str(uuid.uuid5(NAMESPACE, f"product {content}")).upper()
    subprocess.run(["msibuild", str(msi), "-q", f"UPDATE `Property` SET `Value` = '{{{product_code}}}' "
                    "WHERE `Property` = 'ProductCode'"], check=True, capture_output=True)
    set_summary(msi, uuid.uuid5(NAMESPACE, f"package {content}"), seconds, product_code)


if __name__ == "__main__":
    pack(*sys.argv[1:])
