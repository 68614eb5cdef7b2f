"""Reads Wine's +reg and +relay traces of one brannostelwin run: what its
main thread did with the keys it reads, and what it asked the shell.

The patterns follow the trace wording of Wine 8.0 (Debian 8.0~repack-4). A
trace in which they find nothing fails loudly rather than reading as a run
that did nothing."""
import re

from rig import wine
from rig.registry import APP_PATHS, MAPPINGS

WRITTEN_FOR = "wine-8.0 (Debian 8.0~repack-4)"
KEY_LABELS = {APP_PATHS: "App Paths", MAPPINGS: "Mappings"}
_OPEN = re.compile(r'(\w+):trace:reg:NtOpenKeyEx \((0x[0-9a-f]+),L"(.*)",([0-9a-f]+),')
_OPENED = re.compile(r"(\w+):trace:reg:NtOpenKeyEx <- (\(nil\)|0x[0-9a-f]+)$")
_ROOT = re.compile(r"(\w+):trace:reg:create_special_root_hkey (\S+) -> ([0-9A-F]+)$")
_QUERY = re.compile(r'(\w+):trace:reg:RegQueryValueExA \(([0-9A-F]+),(\(null\)|"[^"]*")')
_CLOSE = re.compile(r"(\w+):Call ntdll\.NtClose\(([0-9a-f]+)\)")
_SHELL = re.compile(r'(\w+):Call shell32\.ShellExecuteA\((\w+),\w+ "(\w+)",.*,(\w+),(\w+)\) ret=')
_HIVES = {'L"\\\\Registry\\\\Machine"': "HKLM", "HKEY_CURRENT_USER": "HKCU"}


class UnreadableTrace(AssertionError):
    pass


def key_events(lines):
    """In order: "open HIVE KEY access=N" or "fail HIVE KEY access=N", "query
    KEY NAME", "close KEY", and "shell owner=N verb=V folder=N show=N"."""
    trace_key = {key.replace("\\", "\\\\"): label for key, label in KEY_LABELS.items()}
    # The thread that opens a key brannostelwin reads is the program's main
    # thread: Wine's own start-up opens neither key.
    thread = next((m[1] for m in map(_OPEN.match, lines) if m and m[3] in trace_key), None)
    if thread is None:
        raise UnreadableTrace(f"no open of a key brannostelwin reads in {len(lines)} trace lines "
                              f"(the patterns were written for {WRITTEN_FOR}); they begin:\n"
                              + "\n".join(lines[:20]))
    roots, handles, pending, events = {}, {}, None, []
    for line in lines:
        if not line.startswith(f"{thread}:"):
            continue
        if m := _ROOT.match(line):
            roots[int(m[3], 16)] = _HIVES.get(m[2], m[2])
        elif (m := _OPEN.match(line)) and m[3] in trace_key:
            pending = (roots.get(int(m[2], 16), m[2]), trace_key[m[3]], int(m[4], 16))
        elif (m := _OPENED.match(line)) and pending:
            hive, label, access = pending
            opened = m[2] != "(nil)"
            events.append(f"{'open' if opened else 'fail'} {hive} {label} access={access}")
            if opened:
                handles[int(m[2], 16)] = label
            pending = None
        elif (m := _QUERY.match(line)) and int(m[2], 16) in handles:
            name = None if m[3] == "(null)" else m[3].strip('"')
            events.append(f"query {handles[int(m[2], 16)]} {name}")
        elif (m := _CLOSE.match(line)) and int(m[2], 16) in handles:
            events.append(f"close {handles.pop(int(m[2], 16))}")
        elif m := _SHELL.match(line):
            # The show command is an int: on x64 the relay prints the whole
            # register, whose upper half is not part of the argument.
            owner, verb, folder, show = int(m[2], 16), m[3], int(m[4], 16), int(m[5], 16) & 0xFFFFFFFF
            events.append(f"shell owner={owner} verb={verb} folder={folder} show={show}")
    return events


def run_traced(program, env=None, timeout=60):
    """Runs a program with the registry and relay traces on; returns its exit
    status and key_events() of its trace."""
    proc = wine.start(program, env={**(env or {}), "WINEDEBUG": "+reg,+relay"})
    status = wine.finish(proc, timeout)
    return status, key_events(proc.said.read_text(errors="replace").splitlines())
