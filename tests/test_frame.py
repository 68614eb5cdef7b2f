"""What the frame guarantees for every run of either program, seen from
outside under Wine: the command line changes nothing, the error mode keeps
inherited flags, runs at once are independent, and nothing is written."""
import unittest

import rig


def dial(args=(), **env):
    return rig.dial(rig.XP, args, **env)


def connect(args=()):
    return rig.connect(rig.WIN, args)


HANDOFFS = {"brannostelxp": dial, "brannostelwin": connect}


class CommandLines(unittest.TestCase):
    CASES = [
        ("brannostelxp", "switches", ["/s", "-help", "/?", "--entry=Other"]),
        ("brannostelxp", "quoted file names", ['"C:\\Program Files\\a file.txt"', "D:\\x y\\z.pbk"]),
        ("brannostelxp", "an entry name", ["Conexion a Zel Servicios IP"]),
        ("brannostelxp", "empty arguments", ["", ""]),
        ("brannostelxp", "a very long one", ["x" * 30000]),
        ("brannostelwin", "switches and file names", ["/s", '"C:\\other profile.cmp"', "x" * 5000]),
    ]

    def test_ignored(self):
        rig.register_profile()
        baselines = {name: handoff() for name, handoff in HANDOFFS.items()}
        self.assertEqual(baselines["brannostelxp"][0], 0)
        self.assertEqual([e for e, _ in baselines["brannostelxp"][1]], rig.DIAL_SEQUENCE)
        self.assertEqual(baselines["brannostelwin"], (0, [(5, rig.cm_command(b"C:\\zel.cmp"))]))
        for name, case, args in self.CASES:
            with self.subTest(f"{name}: {case}"):
                self.assertEqual(HANDOFFS[name](args), baselines[name])


class ErrorMode(unittest.TestCase):
    # (flags the process starts with, flags while the program works)
    CASES = [
        (0x0000, 0x8001),
        (0x0002, 0x8003),  # SEM_NOGPFAULTERRORBOX is kept
        (0x8000, 0x8001),
        (0x8003, 0x8003),
    ]

    def test_flags_added(self):
        for preset, expected in self.CASES:
            with self.subTest(preset=hex(preset)):
                status, events = dial(RASDLG_STANDIN_ERRORMODE=hex(preset))
                self.assertEqual(status, 0)
                self.assertEqual(int(events[0][1]["error_mode"], 16), expected)


class TwoAtOnce(unittest.TestCase):
    def test_independent_runs(self):
        # The first stays in its dialog while the second runs from start to
        # end: no single-instance guard, no shared state.
        with rig.scratch() as folder:
            first_log, second_log = folder / "first.log", folder / "second.log"
            first = rig.start(rig.XP, env={"RASDLG_STANDIN_LOG": rig.windows_path(first_log),
                                       "RASDLG_STANDIN_WAIT": "4000"})
            try:
                self.assertTrue(rig.wait_for_file(first_log, "call", timeout=30),
                                "the first run never reached the dialog")
                second = rig.run(rig.XP, env={"RASDLG_STANDIN_LOG": rig.windows_path(second_log),
                                          "RASDLG_STANDIN_RESULT": "1"})
                self.assertEqual(second, 0)
                self.assertIsNone(first.poll(), "the first run ended before the second")
                self.assertEqual(first.wait(timeout=60), 0)
            finally:
                if first.poll() is None:
                    first.kill()
                    first.wait()
            for log, record in ((first_log, "freed"), (second_log, "live")):
                events = rig.read_dial_log(log)
                self.assertEqual([e for e, _ in events], rig.DIAL_SEQUENCE, log.name)
                self.assertEqual(events[2][1]["record"], record, log.name)

    def test_connection_manager_twice(self):
        rig.register_profile()
        with rig.scratch() as folder:
            logs = [folder / "first.log", folder / "second.log"]
            runs = [rig.start(rig.WIN, env={"CMMGR_STANDIN_LOG": rig.windows_path(log)}) for log in logs]
            self.assertEqual([run.wait(timeout=60) for run in runs], [0, 0])
            for log in logs:
                self.assertTrue(rig.wait_for_file(log, "end"), log.name)
                self.assertEqual(len(rig.read_cm_log(log)), 1, log.name)


class NoWrites(unittest.TestCase):
    def test_prefix_unchanged(self):
        rig.register_profile()
        for name, handoff in HANDOFFS.items():
            with self.subTest(name), rig.scratch() as folder:
                files_before = rig.drive_files()
                registry_before = rig.registry_export(folder / "before.reg")
                self.assertEqual(handoff()[0], 0)
                registry_after = rig.registry_export(folder / "after.reg")
                files_after = rig.drive_files()
                self.assertEqual(files_after, files_before)
                self.assertEqual(registry_after.splitlines(), registry_before.splitlines())
                self.assertGreater(len(registry_before), 100000, "the registry export is empty")


if __name__ == "__main__":
    unittest.main()
