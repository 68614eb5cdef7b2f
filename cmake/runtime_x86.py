"""Makes the x86 programs' copies of the static runtime without DWARF unwind
tables (.eh_frame): exceptions are off and nothing unwinds on x86, so
nothing reads them. crt2.o and the static libraries are copied whole.
libmsvcrt.a, an import library with some static code, is copied only as that
code (libmsvcrt_static.a, which the programs link ahead of it): lld orders
the import tables by the path of the library each import comes from, so
imports taken from a copy in the build tree would make the programs' bytes
depend on where the tree is.

A copy that comes out as it was is left as it was, so that the programs
are not linked again for nothing; a file of an earlier layout goes.

Usage: runtime_x86.py TRIPLE OUTPUT_DIR FILE...
"""
import filecmp
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile


def tool(triple, name, *args, cwd=None):
    return subprocess.run([f"{triple}-{name}", *map(str, args)], cwd=cwd, check=True,
                          capture_output=True, text=True).stdout


def main(triple, output, *files):
    output = pathlib.Path(output)
    output.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as made:
        make(triple, pathlib.Path(made), files)
        names = {p.name for p in pathlib.Path(made).iterdir()}
        for old in output.iterdir():
            if old.name not in names:
                old.unlink()
        for name in names:
            if not (output / name).exists() or not filecmp.cmp(pathlib.Path(made) / name,
                                                                output / name, shallow=False):
                shutil.copyfile(pathlib.Path(made) / name, output / name)


def make(triple, output, files):
    for file in map(pathlib.Path, files):
        if file.name != "libmsvcrt.a":
            tool(triple, "objcopy", "--remove-section=.eh_frame", file, output / file.name)
            continue
        # The members that import nothing: no .idata sections.
        members, importing = [], set()
        for line in tool(triple, "objdump", "-h", file).splitlines():
            if m := re.match(r"^(\S+):\s+file format", line):
                members.append(m[1])
            elif ".idata" in line:
                importing.add(members[-1])
        static = [m for m in members if m not in importing]
        with tempfile.TemporaryDirectory() as folder:
            tool(triple, "ar", "x", file, *static, cwd=folder)
            for member in static:
                tool(triple, "objcopy", "--remove-section=.eh_frame", member, cwd=folder)
            tool(triple, "ar", "rcD", output / "libmsvcrt_static.a", *static, cwd=folder)


if __name__ == "__main__":
    main(*sys.argv[1:])
