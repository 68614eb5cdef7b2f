"""brannostelcheck under Wine: its verdict on brannostelxp, through the
Remote Access API stand-in; its exit status; its two languages, decoded as a
user's machine decodes them; where the libraries it loads come from; when it
waits for Enter, started each way, and its lines on an 80-column console.
(Its verdict on brannostelwin is a column of test_cmlaunch's registry table,
and that it writes nothing is in test_frame.)"""
import re
import shutil
import unittest

import rig
from rig import TodoWine, registry, standins, wine

PROFILE = wine.prefix() / "drive_c" / "Profiles" / "Zel" / "zel.cmp"
CHECK = wine.windows_path(rig.CHECK)
# A user's folder that a copy of the check may be run from, and where the
# Remote Access library's own imports are to come from.
DOWNLOADS = wine.prefix() / "drive_c" / "users" / "Public" / "Downloads" / "brannostel"
# The libraries the Remote Access stand-in loads: one it imports, one it
# loads by name later.
LOADED = ["C:\\windows\\system32\\rasman.dll", "C:\\windows\\system32\\rastapi.dll"]
# The lookup as the dial dialog makes it: no phonebook, the exact entry name.
LOOKUP = ("lookup", {"phonebook": "-", "entry": rig.ENTRY_NAME.hex()})


class Reports(unittest.TestCase):
    CASES = [
        # (case, language, what is set up: "", or missing: "profile file", a
        # stand-in library's file or "everything", or "copied": the check run
        # from a user's folder with the libraries it loads beside it; phonebook holding
        # the entry, exit status, lines it shows (their beginnings))
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
    ]

    def test_reports(self):
        for case, language, setup, phonebook, status, lines in self.CASES:
            with self.subTest(case):
                registry.set_registry([] if setup == "everything" else registry.profile_values(
                    b"C:\\Profiles\\Zel\\zel.cmp"))
                PROFILE.parent.mkdir(parents=True, exist_ok=True)
                PROFILE.write_bytes(b"[Connection Manager]\r\n")
                if setup in ("profile file", "everything"):
                    PROFILE.unlink()
                if setup.endswith(".dll"):
                    (wine.system_folder() / setup).unlink()
                program = rig.CHECK
                if setup == "copied":
                    program = DOWNLOADS / rig.CHECK.name
                    DOWNLOADS.mkdir(parents=True, exist_ok=True)
                    shutil.copy2(rig.CHECK, program)
                    for library in LOADED:
                        name = library.rpartition("\\")[2]
                        shutil.copy2(wine.system_folder() / name, DOWNLOADS / name)
                try:
                    got, report, events = standins.check(language, phonebook, program)
                finally:
                    shutil.rmtree(DOWNLOADS, ignore_errors=True)
                    wine.ensure_prefix()  # the stand-ins back in place
                self.assertEqual(got, status, report)
                shown = report.splitlines()
                for line in lines:
                    self.assertTrue(any(s.startswith(line) for s in shown), f"{line!r} not in\n{report}")
                if status == 0 and setup != "copied":  # a clean workstation: no warning
                    self.assertEqual([s for s in shown if s.startswith(("  WARNING", "  AVISO"))],
                                     [], report)
                lookups = [e for e in events if e[0] == "lookup"]
                self.assertEqual(lookups[:1], [] if setup == "rasapi32.dll" else [LOOKUP])
                loaded = [standins.unhex(f["from"]).decode() for e, f in events if e == "loaded"]
                self.assertEqual(loaded, [] if setup == "rasapi32.dll" else LOADED)


class Consoles(unittest.TestCase):
    CASES = [
        # (how it is started, the command, language, the key typed at the
        # prompt, whether it waits for Enter, a line its console shows)
        ("on a console of its own that shows, as by double-click", "console", [CHECK], "es",
         "enter", True, "brannostelxp (diálogo de marcado)"),
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
    ]
    PROMPTS = {"en": "Press Enter to close this window.", "es": "Pulse Intro para cerrar esta ventana."}
    def test_waits_only_where_a_person_can_answer(self):
        registry.set_registry([])
        # The Remote Access stand-in, without the entry, as in the report
        # redirected: the same text either way.
        env = {"WINEDLLOVERRIDES": wine.OVERRIDES + ";rasapi32=n"}
        redirected = {language: standins.check(language, None)[1] for language in standins.LOCALES}
        with wine.display() as display:
            for case, how, command, language, key, waits, line in self.CASES:
                line = rig.under_wine(line)
                with self.subTest(case):
                    # The same end whether it waited or not: the status, within
                    # the helper's bound.
                    status, shown = wine.console(how, command, {
                        **env, "LC_ALL": standins.LOCALES[language], "DISPLAY": display},
                        (self.PROMPTS[language], key))
                    self.assertEqual(status, 3, shown)
                    if line:
                        self.assertIn(line, shown.splitlines(), "not shown as written")
                        self.assertFits(shown.replace(self.PROMPTS[language], ""),
                                        redirected[language])
                    self.assertEqual(self.PROMPTS[language] in shown, waits, shown)

    def test_readme_samples(self):
        # The README's sample reports are real runs of their scenarios: on
        # an 80-column console from a prompt, in English, the machine-wide
        # key mapping another connection, the user's this one, no phonebook
        # entry; redirected, in Spanish, all there but the profile file.
        # Only the case of the system folder's path differs.
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
            expected = [line for line in sample.rstrip().lower().splitlines()
                        if not line.startswith("c:\\>")]  # the command typed
            with self.subTest(expected[0]):
                self.assertEqual(run.rstrip().lower().splitlines()[-len(expected):], expected, run)

    def assertFits(self, shown, report):
        """The report as an 80-column console shows it: rows broken between
        words by the check, never by the console, each finding's rows after
        the first indented under its text; redirected, a line per finding.
        Every key, path and the entry name the report names is whole on the
        screen once the rows the console wrapped are joined: a key or path
        wider than a row has rows of its own, wrapped by the console alone,
        so that it is copied as it is."""
        joined = re.sub(r"^(.{80})\n", r"\1", shown, flags=re.M)
        rows = joined.splitlines()
        self.assertEqual([r for r in rows if len(r) > 79 and not r.startswith("HKEY_")], [], shown)
        self.assertEqual(" ".join(joined.split()), " ".join(report.split()), "words split")
        status_column = re.compile(r"  \S+ +\S| {11}\S| {11}-> \S| {14}\S")
        self.assertEqual([r for r in rows if r.startswith(" ") and not status_column.match(r)], [])
        self.assertGreater(len([r for r in rows if r.startswith(" " * 11)]),
                           len([r for r in report.splitlines() if r.startswith(" " * 11)]),
                           "no finding took two rows")
        self.assertEqual([r for r in report.splitlines() if r.startswith(" " * 11)
                          and not r.startswith(" " * 11 + "-> ")], [], "a finding on two lines")
        names = [f"{hive}\\{key}" for hive in ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER")
                 for key in (registry.APP_PATHS, registry.MAPPINGS)] + [rig.ENTRY_NAME.decode()]
        self.assertEqual([n for n in names if n in report and n not in joined], [], "names broken")
        self.assertIn(names[0], report)


if __name__ == "__main__":
    unittest.main()
