"""brannostelcheck under Wine: its verdict on brannostelxp, through the
Remote Access API stand-in; its exit status; its two languages, decoded as a
user's machine decodes them; when it waits for Enter, started each way.
(Its verdict on brannostelwin is a column of test_cmlaunch's registry table,
and that it writes nothing is in test_frame.)"""
import unittest

import rig
from rig import registry, standins, wine

PROFILE = wine.prefix() / "drive_c" / "Profiles" / "Zel" / "zel.cmp"
CHECK = wine.windows_path(rig.CHECK)
# The lookup as the dial dialog makes it: no phonebook, the exact entry name.
LOOKUP = ("lookup", {"phonebook": "-", "entry": rig.ENTRY_NAME.hex()})


class Reports(unittest.TestCase):
    CASES = [
        # (case, language, what is missing: "" or "profile file" or a stand-in
        # library's file or "everything", phonebook holding the entry, exit
        # status, lines it shows (their beginnings))
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
    ]

    def test_reports(self):
        for case, language, missing, phonebook, status, lines in self.CASES:
            with self.subTest(case):
                registry.set_registry([] if missing == "everything" else registry.profile_values(
                    b"C:\\Profiles\\Zel\\zel.cmp"))
                PROFILE.parent.mkdir(parents=True, exist_ok=True)
                PROFILE.write_bytes(b"[Connection Manager]\r\n")
                if missing in ("profile file", "everything"):
                    PROFILE.unlink()
                if missing.endswith(".dll"):
                    (wine.system_folder() / missing).unlink()
                try:
                    got, report, lookups = standins.check(language, phonebook)
                finally:
                    wine.ensure_prefix()  # the stand-ins back in place
                self.assertEqual(got, status, report)
                shown = report.splitlines()
                for line in lines:
                    self.assertTrue(any(s.startswith(line) for s in shown), f"{line!r} not in\n{report}")
                self.assertEqual(lookups[:1], [] if missing == "rasapi32.dll" else [LOOKUP])


class Consoles(unittest.TestCase):
    CASES = [
        # (how it is started, the command, language, the key typed at the
        # prompt, whether it waits for Enter, a line its console shows)
        ("on a console of its own that shows, as by double-click", "console", [CHECK], "es",
         "enter", True, "brannostelxp (diálogo de marcado)"),
        ("the same, answered with Ctrl+C", "console", [CHECK], "en", "ctrl-c", True,
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
    ]
    PROMPTS = {"en": "Press Enter to close this window.", "es": "Pulse Intro para cerrar esta ventana."}

    def test_waits_only_where_a_person_can_answer(self):
        registry.set_registry([])
        with wine.display() as display:
            for case, how, command, language, key, waits, line in self.CASES:
                with self.subTest(case):
                    # The same end whether it waited or not: the status, within
                    # the helper's bound.
                    status, shown = wine.console(how, command, {
                        "LC_ALL": standins.LOCALES[language], "DISPLAY": display},
                        (self.PROMPTS[language], key))
                    self.assertEqual(status, 1, shown)
                    if line:
                        self.assertIn(line, shown.splitlines(), "not shown as written")
                    self.assertEqual(self.PROMPTS[language] in shown, waits, shown)


if __name__ == "__main__":
    unittest.main()
