"""brannostelcheck under Wine: its verdict on brannostelxp, through the
Remote Access API stand-in; its exit status; its two languages, decoded as a
user's machine decodes them; where the libraries it loads come from; when it
waits for Enter, started each way, and its lines on an 80-column console.
(Its verdict on brannostelwin is a column of test_cmlaunch's registry table,
and that it writes nothing is in test_frame.)"""
import csv
import getpass
import io
import re
import shutil
import unittest

import rig
from rig import TodoWine, registry, standins, wine

PROFILE = wine.prefix() / "drive_c" / "Profiles" / "Zel" / "zel.cmp"
# A profile path with an accent, which the ANSI code page (1252) and a
# Spanish console's (850) write as other bytes.
ACCENTED = "C:\\Perfiles\\Información\\zel.cmp"
# One a CSV must quote, stored in quotes as the check advises for blanks.
COMMA = '"C:\\Profiles\\Zel, S.A\\zel.cmp"'
CHECK = wine.windows_path(rig.CHECK)
# A user's folder that a copy of the check may be run from, and where the
# Remote Access library's own imports are to come from.
DOWNLOADS = wine.prefix() / "drive_c" / "users" / "Public" / "Downloads" / "brannostel"
# The libraries the Remote Access stand-in loads: one it imports, one it
# loads by name later.
LOADED = ["C:\\windows\\system32\\rasman.dll", "C:\\windows\\system32\\rastapi.dll"]
# The lookup as the dial dialog makes it: no phonebook, the exact entry name;
# the check's error mode by then, as the launchers set theirs.
LOOKUP = ("lookup", {"phonebook": "-", "entry": rig.ENTRY_NAME.hex(), "error_mode": "0x8001"})
# The check built to take scripted answers where Wine cannot answer as
# Windows would (tests/helpers/scripted.cpp), and the account it runs as.
SCRIPTED = rig.BUILD / "standins" / "scripted" / "brannostelcheck.exe"
USER = getpass.getuser()
# Windows as the scripted check is told it is: (what it is told, what lies
# where it is started: "alone", "dll" beside it, "named" (the same in a
# folder the ANSI code page cannot name), or "current" (a DLL in the current
# folder only); what it does about the DLL search, in order: the calls that
# set it, the folders it searches, the libraries it loads).
SAFE = ["load wtsapi32.dll", "load rasdlg.dll", "load rasapi32.dll"]
WINDOWS = {
    "XP": ({"SCRIPT_MISSING": "SetDefaultDllDirectories SetDllDirectoryA"}, "current",
           ["search own", "search current", "load rasdlg.dll"]),
    "XP SP3": ({"SCRIPT_MISSING": "SetDefaultDllDirectories"}, "dll",
               ["SetDllDirectoryA", "search own", "load rasdlg.dll"]),
    "XP SP3 named": ({"SCRIPT_MISSING": "SetDefaultDllDirectories"}, "named",
                     ["SetDllDirectoryA", "search own", "load rasdlg.dll"]),
    "7 denied": ({"SCRIPT_MISSING": "SetDefaultDllDirectories", "SCRIPT_FOLDERS": "5"}, "alone",
                 ["SetDllDirectoryA", "search own", "load rasdlg.dll"]),
    "7": ({"SCRIPT_MISSING": "SetDefaultDllDirectories"}, "alone",
          ["SetDllDirectoryA", "search own", *SAFE]),
    "10 elevated": ({"SCRIPT_TOKEN": "2 0 1"}, "alone", ["SetDefaultDllDirectories", *SAFE]),
    "session 0": ({"SCRIPT_SESSION": "-", "SCRIPT_SESSION_ID": "0"}, "alone",
                  ["SetDefaultDllDirectories", *SAFE]),
    "namesake": ({"SCRIPT_SESSION": f"CORP\\{USER}", "SCRIPT_SESSION_SID": "other"}, "alone",
                 ["SetDefaultDllDirectories", *SAFE]),
    "offline": ({"SCRIPT_SESSION": "self", "SCRIPT_SESSION_SID": "none"}, "alone",
                ["SetDefaultDllDirectories", *SAFE]),
    "same account": ({"SCRIPT_SESSION": f"corp.example.com\\{USER}", "SCRIPT_SESSION_SID": "self"},
                     "alone", ["SetDefaultDllDirectories", *SAFE]),
}
# The usage's first line, in every language.
USAGE = "brannostelcheck [/fo list|table|csv] [/nh]"
# The Spanish report's status words, as the CSV gives them in any language.
ENGLISH_STATUS = {"BIEN": "OK", "AVISO": "WARNING", "NOTA": "NOTE"}
REFUSED = ['  ERROR    The phonebook entry "Conexion a Zel Servicios IP" was not looked up',
           "brannostelxp lacks what is marked ERROR above. Exit status 2."]
IN_FOLDER = "  ERROR    This Windows cannot keep DLLs out of the folder {}, and that folder holds DLLs"


class Reports(unittest.TestCase):
    CASES = [
        # (case, language, what is set up: "", or missing: "profile file", a
        # stand-in library's file or "everything", or "copied": the check run
        # from a user's folder with the libraries it loads beside it, or
        # "accented": the profile's path; or the Windows the scripted check
        # is told it runs on (WINDOWS); phonebook holding the entry, exit
        # status, lines it shows (their beginnings; … stands for any text,
        # {own} and {current} for the folders), and each of its warnings and
        # notes among them)
        ("everything there", "en", "", "all users", 0,
         ["  OK       The profile is there: C:\\Profiles\\Zel\\zel.cmp",
          '  OK       Phonebook entry "Conexion a Zel Servicios IP" found, in the phonebook for all '
          "users.", "Both launchers have what they need. Exit status 0."]),
        ("everything there, in Spanish", "es", "", "user", 0,
         ['  BIEN     Entrada "Conexion a Zel Servicios IP" encontrada, en la agenda telefónica de '
          "este usuario.", "Los dos lanzadores tienen lo que necesitan. Estado de salida 0."]),
        ("no phonebook entry", "en", "", None, 2,
         ['  ERROR    No phonebook entry "Conexion a Zel Servicios IP" where the dial dialog looks',
          '           -> Create the dial-up connection "Conexion a Zel Servicios IP"',
          "brannostelxp lacks what is marked ERROR above. Exit status 2."]),
        ("no profile file, in Spanish", "es", "profile file", "all users", 1,
         ["  ERROR    No existe el archivo de perfil: C:\\Profiles\\Zel\\zel.cmp",
          "A brannostelwin le falta lo marcado como ERROR arriba. Estado de salida 1."]),
        ("nothing there, in Spanish", "es", "everything", None, 3,
         ["  ERROR    brannostelwin no iniciaría nada.",
          "           -> Añada el valor \"Conexion a Zel Servicios IP\"",
          "A los dos lanzadores les falta lo marcado como ERROR arriba. Estado de salida 3."]),
        ("no dial dialog library", "en", "rasdlg.dll", "all users", 2,
         ["  ERROR    The dial dialog library is not in C:\\windows\\system32\\rasdlg.dll",
          "brannostelxp lacks what is marked ERROR above. Exit status 2."]),
        # It still starts, and names what the dial dialog needs.
        ("no Remote Access library", "en", "rasapi32.dll", "all users", 2,
         ["  ERROR    The Remote Access library does not load from "
          "C:\\windows\\system32\\rasapi32.dll",
          "           -> Install the dial-up networking (Remote Access) components of Windows",
          "brannostelxp lacks what is marked ERROR above. Exit status 2."]),
        # The libraries the Remote Access library imports, or loads by name
        # later, come from the system folder too, never from beside the check.
        ("a copy in a user's folder, the libraries beside it", "en", "copied", "all users", 0,
         ["Both launchers have what they need. Exit status 0."]),
        # As stored, where the console's code page is not the registry's.
        ("a profile path with an accent, in Spanish", "es", "accented", "all users", 0,
         ["  BIEN     Perfil asignado en HKLM\\Software\\Microsoft\\Connection Manager\\Mappings, "
          f'valor "Conexion a Zel Servicios IP": {ACCENTED}',
          f"  BIEN     El perfil está ahí: {ACCENTED}"]),
        ("a profile path with a comma, stored in quotes", "en", "comma", "all users", 0,
         [f'  OK       Profile mapped in HKLM\\Software\\Microsoft\\Connection Manager\\Mappings, value '
          f'"Conexion a Zel Servicios IP": {COMMA}']),
        # The Windows Wine cannot be: no DLL is loaded by name from where
        # the check is started unless Windows keeps the search to System32
        # or the folders still searched are known to hold none.
        ("XP before SP1: a DLL in the current folder", "en", "XP", "all users", 2,
         [IN_FOLDER.format("{current}"), *REFUSED]),
        ("XP SP3: a DLL beside the check", "en", "XP SP3", "all users", 2,
         [IN_FOLDER.format("{own}"), *REFUSED]),
        ("XP SP3: a DLL beside the check, in a folder the ANSI code page cannot name", "en",
         "XP SP3 named", "all users", 2, [IN_FOLDER.format("{own}"), *REFUSED]),
        ("7 without KB2533623: a folder that cannot be listed", "en", "7 denied", "all users", 2,
         ["  ERROR    This Windows cannot keep DLLs out of the folder {own}, and the check could not "
          "look for DLLs there (error 5)", *REFUSED]),
        ("7 without KB2533623: nothing beside the check", "en", "7", "all users", 0,
         ["Both launchers have what they need. Exit status 0."]),
        # The x86 brannostelwin an administrator starts unelevated reads the
        # virtual store of the limited token; the x64 one is never
        # virtualized.
        ("10: elevated by an administrator", "en", "10 elevated", "all users", 0,
         ["  NOTE     That is this user's virtual store" if rig.ARCH == "x86" else
          "  OK       Profile mapped in HKLM\\Software\\Microsoft\\Connection Manager\\Mappings,"]),
        ("a named account in session 0", "en", "session 0", "all users", 0,
         ["  NOTE     This check runs as …\\" + USER + " in a session no user is signed in to"]),
        ("another domain's account of the same name signed in", "en", "namesake", "all users", 0,
         [f"  NOTE     This check runs as …\\{USER}, not as CORP\\{USER}, who is signed in"]),
        ("the user signed in, the session naming the domain otherwise", "en", "same account",
         "all users", 0, ["Both launchers have what they need. Exit status 0."]),
        ("the user signed in, the domain out of reach", "en", "offline", "all users", 0,
         ["Both launchers have what they need. Exit status 0."]),
    ]

    def test_reports(self):
        for case, language, setup, phonebook, status, lines in self.CASES:
            with self.subTest(case):
                profile = {"accented": ACCENTED, "comma": COMMA}.get(
                    setup, "C:\\Profiles\\Zel\\zel.cmp").encode("cp1252")
                values = [] if setup == "everything" else registry.profile_values(profile)
                if setup == "10 elevated":  # a standard user's 32-bit installer wrote it there
                    values.append(("HKCU", registry.VIRTUAL_STORE, rig.ENTRY_NAME.decode(),
                                   registry.REG_SZ, b"C:\\Profiles\\Zel\\zel.cmp\0"))
                registry.set_registry(values)
                file = wine.prefix() / "drive_c" / profile.decode("cp1252").strip('"')[3:].replace(
                    "\\", "/")
                for path in (PROFILE, file):
                    path.parent.mkdir(parents=True, exist_ok=True)
                    path.write_bytes(b"[Connection Manager]\r\n")
                if setup in ("profile file", "everything"):
                    PROFILE.unlink()
                if setup.endswith(".dll"):
                    (wine.system_folder() / setup).unlink()
                script, layout, actions = WINDOWS.get(setup, ({}, None, []))
                program, own, current = self.place(setup, layout)
                # Named in ASCII: the log is written with the ANSI calls.
                log = standins.StandInLog(DOWNLOADS if own else rig.BUILD, "SCRIPT")
                try:
                    got, report, events = standins.check(language, phonebook, program,
                                                         env={**script, **log.env}, cwd=current)
                    done = log.events() if layout else []
                    # The same findings as a fleet tool reads them.
                    csv_status, table, _ = standins.check(language, phonebook, program, ["/fo", "csv"],
                                                          {**script, **log.env}, current)
                finally:
                    shutil.rmtree(DOWNLOADS, ignore_errors=True)
                    wine.ensure_prefix()  # the stand-ins back in place
                self.assertEqual(got, status, report)
                shown = report.splitlines()
                # As the report, in the console's code page, can write them.
                page = standins.CODE_PAGES[language]
                folders = {name: dos(path).encode(page, "replace").decode(page)
                           for name, path in (("own", own), ("current", current)) if own}
                expected = [re.compile(re.escape(line.format(**folders)).replace("…", ".*"))
                            for line in lines]
                for line, pattern in zip(lines, expected):
                    self.assertTrue(any(pattern.match(s) for s in shown), f"{line!r} not in\n{report}")
                # A clean workstation has no warning or note; any other has
                # only the row's.
                remarks = [s for s in shown if s.startswith(("  WARNING", "  AVISO", "  NOTE", "  NOTA"))]
                self.assertEqual([s for s in remarks if not any(p.match(s) for p in expected)], [],
                                 report)
                unloaded = setup == "rasapi32.dll" or REFUSED[0] in lines
                lookups = [e for e in events if e[0] == "lookup"]
                self.assertEqual(lookups[:1], [] if unloaded else [LOOKUP])
                loaded = [standins.unhex(f["from"]).decode() for e, f in events if e == "loaded"]
                self.assertEqual(loaded, [] if unloaded else LOADED)
                self.assertEqual(self.actions(done, {"own": own, "current": current}), actions,
                                 report)
                self.assertEqual(csv_status, status, table)
                # Read as PowerShell's ConvertFrom-Csv reads it: by the header.
                rows = list(csv.DictReader(io.StringIO(table, newline="")))
                self.assertEqual([(row["status"], row["text"]) for row in rows],
                                 self.findings_of(report, status), table)
                self.assertLessEqual({row["data"] for row in rows if row["finding"] == "MappingOk"},
                                     {profile.decode("cp1252")}, table)

    COMMAND_LINES = [
        # (case, arguments, language, exit status, its first lines: on its
        # standard output, or on its standard error where the command line
        # is not understood, which stops all else)
        ("the usage", ["/?"], "es", 0, [USAGE, "", "Indica lo que les falta en este equipo a los "
                                        "lanzadores de"]),
        ("the usage, asked with -", ["-?"], "en", 0, [USAGE]),
        ("an option it has not", ["/s"], "en", 16, ["Invalid argument or option: /s", USAGE]),
        ("a format it has not, in Spanish", ["/FO", "xml"], "es", 16,
         ["Argumento u opción no válidos: xml", USAGE]),
        ("no format", ["/fo"], "en", 16, ["Invalid argument or option: /fo", USAGE]),
        ("no header to leave out of the report", ["/nh"], "en", 16,
         ["Invalid argument or option: /nh", USAGE]),
        ("the table without its header, the options in any case", ["-Fo", "TABLE", "-NH"], "en", 0,
         ["brannostelwin  OK       AppPathsOk", "brannostelwin  OK       MappingOk"]),
    ]

    def test_command_lines(self):
        registry.register_profile(b"C:\\Profiles\\Zel\\zel.cmp")
        PROFILE.parent.mkdir(parents=True, exist_ok=True)
        PROFILE.write_bytes(b"[Connection Manager]\r\n")
        for case, args, language, status, lines in self.COMMAND_LINES:
            with self.subTest(case):
                got, shown, events = standins.check(language, "all users", args=args)
                if status == 16:
                    self.assertEqual((shown, events), ("", []), "it did more")
                    said = wine.RUNS[-1].said.read_bytes().decode(standins.CODE_PAGES[language])
                    shown = "".join(line for line in said.splitlines(True)
                                    if not re.match(r"[0-9a-f]{4}:(err|fixme):", line))
                self.assertEqual(got, status, shown)
                self.assertEqual(shown.splitlines()[:len(lines)], lines, shown)

    @staticmethod
    def findings_of(report, status):
        """The report's findings, in the same order: each status word in
        English, each text with its fix, and the summary."""
        found = []
        for line in report.splitlines():
            if line.startswith("           -> "):
                found[-1] = (found[-1][0], f"{found[-1][1]} -> {line[14:]}")
            elif line.startswith("  ") and not line.startswith("   "):
                word, text = line[2:].split(None, 1)
                found.append((ENGLISH_STATUS.get(word, word), text))
        return found + [("OK" if status == 0 else "ERROR", report.rstrip().splitlines()[-1])]

    @staticmethod
    def place(setup, layout):
        """The check to run, the folder it lies in and its current folder:
        the shipped one where it is (no folders), or a copy in a user's
        folder, with the libraries it loads beside it or, for the scripted
        check, a DLL where its layout says."""
        if setup != "copied" and layout is None:
            return rig.CHECK, None, None
        own = DOWNLOADS / ("Загрузки" if layout == "named" else "check")
        current = DOWNLOADS / "current" if layout == "current" else own
        for folder in {own, current}:
            folder.mkdir(parents=True, exist_ok=True)
        program = own / rig.CHECK.name
        shutil.copy2(SCRIPTED if layout else rig.CHECK, program)
        planted = {"dll": own, "named": own, "current": current}.get(layout)
        if planted:
            shutil.copy2(rig.BUILD / "standins" / "rasman.dll", planted / "lpk.dll")
        for library in LOADED if setup == "copied" else []:
            name = library.rpartition("\\")[2]
            shutil.copy2(wine.system_folder() / name, own / name)
        return program, own, current

    @staticmethod
    def actions(events, folders):
        """What the scripted check did about the DLL search, as WINDOWS
        gives it: the calls that set it, the folders it searched, the
        libraries it loaded."""
        searched = {f"{dos(path)}\\*.dll": name for name, path in reversed(folders.items())
                    if path}
        done = []
        for event, fields in events:
            text = standins.unhex(next(iter(fields.values()))).decode()
            done.append({"dlls": text, "search": f"search {searched.get(text, text)}"}.get(
                event, f"load {text.lower()}"))
        return done


def dos(path):
    """A path in the prefix's drive C as the programs there see it."""
    return "C:\\" + str(path.relative_to(wine.prefix() / "drive_c")).replace("/", "\\")


class Consoles(unittest.TestCase):
    CASES = [
        # (how it is started, the command, language, the key typed at the
        # prompt, whether it waits for Enter, a line its console shows; for
        # the scripted check, what it is told (WINDOWS) and words its console
        # shows)
        ("on a console of its own that shows, as by double-click", "console", [CHECK], "es",
         "enter", True, "brannostelxp (diálogo de marcado)"),
        # Laid out as the console wraps: at its buffer's width.
        ("the same, its buffer wider than its window", "wide", [CHECK], "en", "enter", True,
         "brannostelxp (dial dialog)"),
        ("the same, answered with Ctrl+C", "console", [CHECK], "en", "ctrl-c", True,
         "brannostelxp (dial dialog)"),
        # Enter typed while it was still working is not the answer.
        ("the same, Enter typed before the prompt", "console", [CHECK], "en", "early-enter", True,
         "brannostelxp (dial dialog)"),
        ("from a prompt", "console", ["cmd", "/c", CHECK], "en", "enter", False,
         "brannostelxp (dial dialog)"),
        ("on a console of its own, hidden", "hidden", [CHECK], "en", "enter", False,
         "brannostelxp (dial dialog)"),
        ("with input from NUL", "nul-input", [CHECK], "en", "enter", False,
         "brannostelxp (dial dialog)"),
        # As deployment agents start programs, and as services do: nothing
        # to see.
        ("with CREATE_NO_WINDOW", "no-window", [CHECK], "en", "enter", False, None),
        ("with DETACHED_PROCESS", "detached", [CHECK], "en", "enter", False, None),
        # As CI agents and ssh servers host it: a console of its own whose
        # pseudo-window no one sees.
        ("on a pseudo console, headless", "pseudo", [CHECK], "en", "enter", False, TodoWine(
            "brannostelxp (dial dialog)", None, "Wine 8 gives a program started on a pseudo "
            "console its parent's standard handles, here none: a +process,+console trace of "
            "cmd /c echo started so shows WriteConsoleW(0000000000000000, ...)")),
        # Rows for a program to read, on a console a person could answer.
        ("in CSV, on a console of its own that shows", "console", [CHECK, "/fo", "csv"], "en",
         "enter", False, None, {}, '"launcher","status","finding","key","value","data","text"'),
        # A window that shows on a window station a person sees, but no one
        # to answer: a remote tool run as SYSTEM, an XP service allowed to
        # use the desktop; a named account in the services' session.
        ("as LocalSystem, on a console that shows", "console", [wine.windows_path(SCRIPTED)], "en",
         "enter", False, None, {"SCRIPT_ACCOUNT": "18"}, "This check runs as LocalSystem"),
        ("in session 0, on a console that shows", "console", [wine.windows_path(SCRIPTED)], "en",
         "enter", False, None, WINDOWS["session 0"][0], "in a session no user is signed in to"),
        # Where a DLL may lie beside it, not even user32 is loaded to ask.
        ("7 without KB2533623, its folder not listed, on a console that shows", "console",
         [wine.windows_path(SCRIPTED)], "en", "enter", False, None, WINDOWS["7 denied"][0],
         "could not look for DLLs there (error 5)"),
    ]
    PROMPTS = {"en": "Press Enter to close this window.", "es": "Pulse Intro para cerrar esta ventana."}
    def test_waits_only_where_a_person_can_answer(self):
        registry.set_registry([])
        # The Remote Access stand-in, without the entry, as in the report
        # redirected: the same text either way.
        env = {"WINEDLLOVERRIDES": wine.OVERRIDES + ";rasapi32=n"}
        redirected = {language: standins.check(language, None)[1] for language in standins.LOCALES}
        with wine.display() as display:
            for case, how, command, language, key, waits, line, *scripted in self.CASES:
                line = rig.under_wine(line)
                script, words = scripted or ({}, "")
                with self.subTest(case):
                    # The same end whether it waited or not: the status, within
                    # the helper's bound.
                    status, shown = wine.console(how, command, {
                        **env, **script, "LC_ALL": standins.LOCALES[language], "DISPLAY": display},
                        (self.PROMPTS[language], key))
                    self.assertEqual(status, 3, shown)
                    self.assertIn(words, " ".join(shown.split()))
                    if line:
                        self.assertIn(line, shown.splitlines(), "not shown as written")
                        self.assertFits(shown.replace(self.PROMPTS[language], ""),
                                        redirected[language], 120 if how == "wide" else 80)
                    self.assertEqual(self.PROMPTS[language] in shown, waits, shown)

    def test_readme_samples(self):
        # The README's sample reports are real runs of their scenarios: on
        # an 80-column console from a prompt, in English, the machine-wide
        # key mapping another connection, the user's this one, no phonebook
        # entry; redirected, in Spanish, all there but the profile file.
        # Only the case of the system folder's path differs, and the version.
        samples = re.findall(r"```text\n(.*?)```", (rig.SOURCE / "README.md").read_text(), re.S)
        program = ("HKLM", registry.APP_PATHS, None, registry.REG_SZ,
                   b"C:\\WINDOWS\\system32\\cmmgr32.exe\0")

        def entry(hive, name, profile):
            return (hive, registry.MAPPINGS, name, registry.REG_SZ, profile + b"\0")

        registry.set_registry([program, entry("HKLM", "Another connection", b"C:\\other.cmp"),
                               entry("HKCU", rig.ENTRY_NAME.decode(), b"C:\\zel.cmp")])
        with wine.display() as display:
            _, shown = wine.console("console", ["cmd", "/c", CHECK], {
                "WINEDLLOVERRIDES": wine.OVERRIDES + ";rasapi32=n", "LC_ALL": standins.LOCALES["en"],
                "DISPLAY": display})
        registry.set_registry([program, entry("HKLM", rig.ENTRY_NAME.decode(),
                                              b"C:\\Perfiles\\Zel\\zel.cmp")])
        _, redirected, _ = standins.check("es", "all users")
        for sample, run in zip(samples, (shown, redirected)):
            # Nothing that a release changes: its version stands for any.
            sample, run = (re.sub(r"\b\d+\.\d+\.\d+\.\d+\b", "VERSION", text.rstrip().lower())
                           for text in (sample, run))
            expected = [line for line in sample.splitlines()
                        if not line.startswith("c:\\>")]  # the command typed
            with self.subTest(expected[0]):
                self.assertEqual(run.splitlines()[-len(expected):], expected, run)

    def assertFits(self, shown, report, width):
        """The report as a console of that width shows it: rows broken
        between words by the check, never by the console, each finding's
        rows after the first indented under its text; redirected, a line per
        finding. Every key, path and the entry name the report names is
        whole on the screen once the rows the console wrapped are joined: a
        key or path wider than a row has rows of its own, wrapped by the
        console alone."""
        joined = re.sub(rf"^(.{{{width}}})\n", r"\1", shown, flags=re.M)
        rows = joined.splitlines()
        self.assertEqual([r for r in rows if len(r) >= width and not r.startswith("HK")], [], shown)
        self.assertGreater(max(map(len, rows)), width - 20, "laid out narrower than the console")
        self.assertEqual(" ".join(joined.split()), " ".join(report.split()), "words split")
        status_column = re.compile(r"  \S+ +\S| {11}\S| {11}-> \S| {14}\S")
        self.assertEqual([r for r in rows if r.startswith(" ") and not status_column.match(r)], [])
        self.assertGreater(len([r for r in rows if r.startswith(" " * 11)]),
                           len([r for r in report.splitlines() if r.startswith(" " * 11)]),
                           "no finding took two rows")
        self.assertEqual([r for r in report.splitlines() if r.startswith(" " * 11)
                          and not r.startswith(" " * 11 + "-> ")], [], "a finding on two lines")
        names = [f"{hive}\\{key}" for hive in ("HKLM", "HKCU")
                 for key in (registry.APP_PATHS, registry.MAPPINGS)] + [rig.ENTRY_NAME.decode()]
        self.assertEqual([n for n in names if n in report and n not in joined], [], "names broken")
        self.assertIn(names[0], report)


if __name__ == "__main__":
    unittest.main()
