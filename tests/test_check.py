"""brannostelcheck under Wine: its verdict on brannostelxp, through the
Remote Access API stand-in; its exit status; its two languages, decoded as a
user's machine decodes them; when it waits for Enter. (Its verdict on
brannostelwin is a column of test_cmlaunch's registry table, and that it
writes nothing is in test_frame.)"""
import unittest

import rig
from rig import registry, standins, wine

PROFILE = wine.prefix() / "drive_c" / "Profiles" / "Zel" / "zel.cmp"
# The lookup as the dial dialog makes it: no phonebook, the exact entry name.
LOOKUP = ("lookup", {"phonebook": "-", "entry": rig.ENTRY_NAME.hex()})


class Reports(unittest.TestCase):
    CASES = [
        # (case, language, what is missing: "" or "profile file" or "dial
        # dialog library" or "everything", phonebook holding the entry, exit
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
        ("no dial dialog library", "en", "dial dialog library", "all users", 2,
         ["  ERROR    The dial dialog library does not load from C:\\windows\\system32\\rasdlg.dll",
          "brannostelxp lacks what is marked ERROR above. Exit status 2."]),
    ]

    def test_reports(self):
        library = wine.system_folder() / "rasdlg.dll"
        for case, language, missing, phonebook, status, lines in self.CASES:
            with self.subTest(case):
                registry.set_registry([] if missing == "everything" else registry.profile_values(
                    b"C:\\Profiles\\Zel\\zel.cmp"))
                PROFILE.parent.mkdir(parents=True, exist_ok=True)
                PROFILE.write_bytes(b"[Connection Manager]\r\n")
                if missing in ("profile file", "everything"):
                    PROFILE.unlink()
                if missing == "dial dialog library":
                    library.unlink()
                try:
                    got, report, lookups = standins.check(language, phonebook)
                finally:
                    wine.ensure_prefix()  # the stand-ins back in place
                self.assertEqual(got, status, report)
                shown = report.splitlines()
                for line in lines:
                    self.assertTrue(any(s.startswith(line) for s in shown), f"{line!r} not in\n{report}")
                self.assertEqual(lookups[0], LOOKUP)


class Consoles(unittest.TestCase):
    CASES = [
        # (how it is started, the command, language, whether it waits for
        # Enter, a line it shows)
        ("on a console of its own, as by double-click", [rig.CHECK], "es", True,
         "brannostelxp (diálogo de marcado)"),
        ("from a prompt", ["cmd", "/c", wine.windows_path(rig.CHECK)], "en", False,
         "brannostelxp (dial dialog)"),
    ]
    PROMPTS = {"en": "Press Enter to close this window.", "es": "Pulse Intro para cerrar esta ventana."}

    def test_waits_only_on_its_own_console(self):
        registry.set_registry([])
        for case, command, language, waits, line in self.CASES:
            with self.subTest(case):
                status, shown = wine.on_terminal(command[0], command[1:],
                                                 {"LC_ALL": standins.LOCALES[language]},
                                                 answer=(self.PROMPTS[language], "\r"))
                self.assertEqual(status, 1, shown)
                self.assertIn(line, shown.splitlines(), "not shown as written")
                self.assertEqual(self.PROMPTS[language] in shown, waits, shown)


if __name__ == "__main__":
    unittest.main()
