"""brannostelwin under Wine: which registry keys it reads, in which order,
and what it starts through the shell."""
import re
import unittest

import rig
from rig import TodoWine, registry, standins, tracing, wine
from rig.registry import (APP_PATHS, DENIED, MAPPINGS, REG_BINARY, REG_DWORD, REG_EXPAND_SZ,
                          REG_MULTI_SZ, REG_SZ, VIRTUAL_STORE)

ENTRY = rig.ENTRY_NAME.decode()
PROFILE = b"C:\\Profiles\\Zel\\zel.cmp"
PER_USER_PROFILE = b"C:\\users\\someone\\Zel\\zel.cmp"


def sz(text):
    return REG_SZ, text + b"\0"


def program(hive="HKLM", kind_and_data=sz(standins.CM_STANDIN.encode())):
    return (hive, APP_PATHS, None, *kind_and_data)


def mapping(kind_and_data, hive="HKLM", name=ENTRY):
    return (hive, MAPPINGS, name, *kind_and_data)


# What the program's main thread does with the keys, step by step.
APP_PATHS_READ = ["open HKLM App Paths access=1", "query App Paths None", "close App Paths"]
MACHINE_MAPPING_READ = ["open HKLM Mappings access=1", f"query Mappings {ENTRY}",
                        "close Mappings"]
USER_MAPPING_READ = ["fail HKLM Mappings access=1", "open HKCU Mappings access=1",
                     f"query Mappings {ENTRY}", "close Mappings"]
BOTH_MACHINE_READS = APP_PATHS_READ + MACHINE_MAPPING_READ
# No owner window, verb "open", no working folder, SW_SHOW.
SHELL = [f"shell owner=0 verb=open folder=0 show={standins.SW_SHOW}"]

LONGEST = b"C:\\" + b"p" * 252 + b".cmp"  # 259 bytes: with its zero, a full buffer
assert len(LONGEST) == 259

# What the check says of each: where the lookups found what they found, or
# why they found nothing.
FOUND = "Profile mapped in HKLM\\Software\\Microsoft\\Connection Manager\\Mappings"

# Where the user's key is read instead.
USER_READ = ("Profile mapped in HKCU\\Software\\Microsoft\\Connection Manager\\Mappings, value "
             f'"{ENTRY}": {PER_USER_PROFILE.decode()} (the machine-wide Mappings key is missing or may '
             "not be opened, so this user's is read)")
CM = standins.CM_STANDIN
# Where a bare cmmgr32.exe is found along the search path: the system folder,
# where Windows keeps its own (the rig puts the stand-in there too).
CM_ON_PATH = "C:\\windows\\system32\\cmmgr32.exe"
BLANKS = b"C:\\Documents and Settings\\All Users\\Zel IP\\zel ip.cmp"
STORED = b"C:\\users\\someone\\Zel\\stored.cmp"
# Profiles that are there, as files in the prefix's drive C.
PROFILE_FILES = [PROFILE, BLANKS, STORED]


def virtualized(windows, wine):
    """What a standard user's x86 launcher meets on Windows, which virtualizes
    its registry under User Account Control (its file asks for no execution
    level), against Wine, which virtualizes none; the x64 launcher is never
    virtualized."""
    return wine if rig.ARCH == "x64" else TodoWine(
        windows, wine, "dlls/ntdll/unix/security.c, NtQueryInformationToken: TokenElevation "
        "and TokenVirtualizationEnabled semi-stubs, every token elevated and none virtualized")

SCENARIOS = [
    # (case, registry values, profile string handed over or None, the program
    # the shell started (as its command line names it) or None, key events
    # before the shell is asked, if it is, what the check explains)
    ("machine-wide profile", [program(), mapping(sz(PROFILE))], PROFILE, CM, BOTH_MACHINE_READS,
     FOUND),
    ("App Paths only per user", [program("HKCU"), mapping(sz(PROFILE))], None, None,
     ["fail HKLM App Paths access=1"], "cmmgr32.exe exists, but brannostelwin reads only "
     "HKLM"),
    ("no App Paths at all", [mapping(sz(PROFILE)), mapping(sz(PER_USER_PROFILE), "HKCU")], None,
     None, ["fail HKLM App Paths access=1"], "No key for cmmgr32.exe under HKLM"),
    ("machine-wide key without the value, per-user value",
     [program(), mapping(sz(PROFILE), name="Another connection"),
      mapping(sz(PER_USER_PROFILE), "HKCU")], None, None, BOTH_MACHINE_READS,
     "has the value, but while the machine-wide key exists, this user's is not read"),
    ("no machine-wide key, per-user value",
     [program(), mapping(sz(PER_USER_PROFILE), "HKCU")], PER_USER_PROFILE, CM,
     APP_PATHS_READ + USER_MAPPING_READ, USER_READ),
    # A machine-wide key that this user may not open counts as none, even
    # with the value in it.
    ("machine-wide key that cannot be opened, per-user value",
     [program(), mapping(sz(PROFILE)), ("HKLM", MAPPINGS, None, DENIED, b""),
      mapping(sz(PER_USER_PROFILE), "HKCU")], PER_USER_PROFILE, CM,
     APP_PATHS_READ + USER_MAPPING_READ, USER_READ),
    ("machine-wide wins over per-user",
     [program(), mapping(sz(PROFILE)), mapping(sz(PER_USER_PROFILE), "HKCU")], PROFILE, CM,
     BOTH_MACHINE_READS, FOUND),
    ("no mappings key anywhere", [program()], None, None,
     APP_PATHS_READ + ["fail HKLM Mappings access=1", "fail HKCU Mappings access=1"],
     "No Mappings key, neither"),
    # A risk, not a fault: the profile is there, so the check's status is 0.
    ("profile path with blanks, left unquoted", [program(), mapping(sz(BLANKS))], BLANKS, CM,
     BOTH_MACHINE_READS, "WARNING  The profile path has blanks and no quotes"),
    ("quotes and variables kept as stored",
     [program(), mapping((REG_EXPAND_SZ, b'"%ProgramFiles%\\Zel\\zel.cmp" /x\0'))],
     b'"%ProgramFiles%\\Zel\\zel.cmp" /x', CM, BOTH_MACHINE_READS,
     "is stored as REG_EXPAND_SZ: brannostelwin does not expand %variables%"),
    # The program's path as the shell takes it: quoted, without .exe, a bare
    # name on the search path, %variables% (which Windows' shell takes as
    # they stand), or no such file.
    ("program path quoted", [program(kind_and_data=sz(b'"' + CM.encode() + b'"')),
                             mapping(sz(PROFILE))], PROFILE, CM, BOTH_MACHINE_READS, FOUND),
    ("program path without .exe", [program(kind_and_data=sz(CM.encode()[:-4])), mapping(sz(PROFILE))],
     PROFILE, CM[:-4], BOTH_MACHINE_READS, FOUND),
    ("program name on the search path", [program(kind_and_data=sz(b"cmmgr32.exe")),
                                         mapping(sz(PROFILE))], PROFILE, CM_ON_PATH,
     BOTH_MACHINE_READS, FOUND),
    ("program path with variables",
     [program(kind_and_data=(REG_EXPAND_SZ, b"%ProgramFiles%\\CM Stand In\\cmmgr32.exe\0")),
      mapping(sz(PROFILE))], PROFILE,
     TodoWine(None, CM, "dlls/shell32/tests/shlexec.c, test_lpFile_parsed: ShellExecuteA on "
              "%TMPDIR%\\simple.shlexec gives SE_ERR_FNF on Windows, todo_wine"),
     BOTH_MACHINE_READS, "-> Store the full path in HKLM\\Software\\Microsoft\\"
     "Windows\\CurrentVersion\\App Paths\\cmmgr32.exe, with no %variables%: " + CM),
    ("program path to no such file",
     [program(kind_and_data=sz(b"C:\\Program Files\\Nowhere\\cmmgr32.exe")), mapping(sz(PROFILE))],
     PROFILE, None, BOTH_MACHINE_READS, "ERROR    No such program: C:\\Program Files\\Nowhere"),
    # One run tells every fault: the profile is looked for all the same.
    ("no such program, no such profile file",
     [program(kind_and_data=sz(b"C:\\Program Files\\Nowhere\\cmmgr32.exe")),
      mapping(sz(b"C:\\Nowhere\\zel.cmp"))], b"C:\\Nowhere\\zel.cmp", None, BOTH_MACHINE_READS,
     "ERROR    No such profile file: C:\\Nowhere\\zel.cmp"),
    # Quoted as the check advises: the file is looked for without them.
    ("profile path quoted", [program(), mapping(sz(b'"' + PROFILE + b'"'))], b'"' + PROFILE + b'"',
     CM, BOTH_MACHINE_READS, "OK       The profile is there: C:\\Profiles\\Zel\\zel.cmp"),
    # Stored bytes, taken as text whatever their type.
    ("259 bytes and a zero", [program(), mapping(sz(LONGEST))], LONGEST, CM, BOTH_MACHINE_READS,
     FOUND),
    # One byte short of the buffer, stored without a zero (as binary, which
    # the registry hands back exactly): ended right after its last byte.
    ("259 bytes, no zero", [program(), mapping((REG_BINARY, LONGEST))], LONGEST, CM,
     BOTH_MACHINE_READS, "is stored as REG_BINARY, not as text"),
    # The registry may give this text's size as 260 or, with the zero it adds
    # to text, 261 (32-bit Wine does): either way too long.
    ("260 bytes, no zero", [program(), mapping((REG_SZ, LONGEST + b"x"))], None, None,
     BOTH_MACHINE_READS, "longer than a path may be"),
    ("260 binary bytes, no zero", [program(), mapping((REG_BINARY, LONGEST + b"x"))], None, None,
     BOTH_MACHINE_READS, "260 bytes and no terminating zero"),
    ("261 bytes", [program(), mapping(sz(LONGEST + b"x"))], None, None, BOTH_MACHINE_READS,
     "261 bytes, longer than a path may be"),
    ("short, no zero", [program(), mapping((REG_SZ, PROFILE))], PROFILE, CM, BOTH_MACHINE_READS,
     FOUND),
    ("a zero inside", [program(), mapping((REG_BINARY, PROFILE + b"\0trailing bytes"))], PROFILE,
     CM, BOTH_MACHINE_READS, "holds more after its text"),
    ("a number", [program(), mapping((REG_DWORD, b"zel\0"))], b"zel", CM, BOTH_MACHINE_READS,
     "is stored as REG_DWORD, not as text"),
    ("a number with no zero byte", [program(), mapping((REG_DWORD, b"abcd"))], b"abcd", CM,
     BOTH_MACHINE_READS, "is stored as REG_DWORD, not as text"),
    ("a string list", [program(), mapping((REG_MULTI_SZ, PROFILE + b"\0second\0\0"))], PROFILE,
     CM, BOTH_MACHINE_READS, "is stored as REG_MULTI_SZ, not as text"),
    ("a type of no name", [program(), mapping((0x4000, PROFILE + b"\0"))], PROFILE, CM,
     BOTH_MACHINE_READS, "is stored as type 16384, not as text"),
    ("empty", [program(), mapping((REG_BINARY, b""))], b"", CM, BOTH_MACHINE_READS,
     "No such profile file: \r\n"),
    ("program path of 260 bytes, no zero",
     [program(kind_and_data=(REG_BINARY, LONGEST + b"x")), mapping(sz(PROFILE))], None, None,
     APP_PATHS_READ, "260 bytes and no terminating zero"),
    ("program path of 261 bytes",
     [program(kind_and_data=sz(LONGEST + b"x")), mapping(sz(PROFILE))], None, None, APP_PATHS_READ,
     "261 bytes, longer than a path may be"),
    # A standard user's x86 launcher reads the value in the virtual store
    # that an unelevated 32-bit installer wrote, not the machine-wide one.
    ("a mapping in this user's virtual store",
     [program(), mapping(sz(PROFILE)), ("HKCU", VIRTUAL_STORE, ENTRY, *sz(STORED))],
     virtualized(STORED, PROFILE), CM, BOTH_MACHINE_READS,
     virtualized("That is this user's virtual store", FOUND)),
    ("program path unterminated",
     [program(kind_and_data=(REG_SZ, CM.encode())), mapping(sz(PROFILE))], PROFILE, CM,
     BOTH_MACHINE_READS, "Connection Manager registered: HKLM"),
]


def in_prefix(path):
    """Where a C: path of the prefix lies here."""
    return wine.prefix() / "drive_c" / path.decode().strip('"')[3:].replace("\\", "/")


class RegistryScenarios(unittest.TestCase):
    def test_scenarios(self):
        for path in PROFILE_FILES:
            in_prefix(path).parent.mkdir(parents=True, exist_ok=True)
            in_prefix(path).write_bytes(b"[Connection Manager]\r\n")
        for case, values, profile, started, key_events, explained in SCENARIOS:
            profile, explained = rig.under_wine(profile), rig.under_wine(explained)
            with self.subTest(case), standins.cm_log() as log:
                registry.set_registry(values)
                status, events = tracing.run_traced(rig.WIN, log.env)
                self.assertEqual(status, 0)
                self.assertEqual(events, key_events + (SHELL if profile is not None else []))
                # The check's verdict is the launcher's, and it says why; its
                # status is 0 only where the launcher starts the Connection
                # Manager on a profile that is there.
                check_status, report, _ = standins.check()
                seen = rig.under_wine(started)
                if seen is None:
                    self.assertEqual(log.text(), "", "started anyway")
                else:
                    self.assertTrue(log.wait_for("start"), f"nothing was started {started}")
                    self.assertEqual(log.cm_starts(),
                                     [(standins.SW_SHOW, standins.cm_command(profile, seen))])
                started = rig.on_windows(started)
                handed = values[0][4].split(b"\0")[0].decode()  # the App Paths value, as text
                verdict = ("brannostelwin would start nothing." if profile is None else
                           f"brannostelwin would start {handed} with the parameters {profile.decode()}")
                self.assertIn(f"{verdict}\r\n", report)
                self.assertIn(explained, report)
                if started:
                    self.assertRegex(report, rf"Manager is there.*: {re.escape(started)}(\.exe)?(\r\n|\. )")
                self.assertEqual(check_status,
                                 0 if started and profile.strip(b'"') in PROFILE_FILES else 1, report)


class ShellOutcomes(unittest.TestCase):
    def test_does_not_wait(self):
        # The Connection Manager stays until released; the launcher ends first.
        registry.set_registry([program(), mapping(sz(PROFILE))])
        with standins.cm_log() as log:
            self.assertEqual(wine.run(rig.WIN, env=log.holding().env), 0)
            self.assertTrue(log.wait_for("start"), "nothing was started")
            self.assertNotIn("end", log.text(), "the launcher waited for the program")
            log.release()
            self.assertTrue(log.wait_for("end"), "the program did not run on")


if __name__ == "__main__":
    unittest.main()
