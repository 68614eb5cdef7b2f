"""brannostelxp under Wine: what it hands the dial dialog, and what it does
with the record afterwards."""
import unittest

import rig

XP = rig.DIST / "brannostelxp.exe"
RECORD = (36).to_bytes(4, "little") + bytes(32)


class DialogOutcomes(unittest.TestCase):
    # (case, what the dialog returns, the record's state when the process ends)
    CASES = [
        ("dismissed", "0", "freed"),
        ("connected", "1", "live"),
        ("other nonzero", "0x7fffffff", "live"),
        ("all bits set", "0xffffffff", "live"),
    ]

    def test_outcomes(self):
        for case, result, record in self.CASES:
            with self.subTest(case), rig.Scratch() as scratch:
                log = scratch.file("dial.log")
                status = rig.run(XP, env={"RASDLG_STANDIN_LOG": rig.windows_path(log),
                                          "RASDLG_STANDIN_RESULT": result})
                events = rig.read_dial_log(log)
                self.assertEqual(status, 0)
                self.assertEqual([e for e, _ in events], ["call", "return", "exit"], events)
                call = events[0][1]
                self.assertEqual(call["main_thread"], "1", "the dialog ran off the main thread")
                self.assertIsNone(rig.unhex(call["phonebook"]))
                self.assertEqual(rig.unhex(call["entry"]), rig.ENTRY_NAME)
                self.assertIsNone(rig.unhex(call["phone"]))
                self.assertEqual(rig.unhex(call["bytes"]), RECORD)
                self.assertEqual((call["fixed"], call["global_size"]), ("1", "36"),
                                 "the record is not a fixed 36-byte global block")
                self.assertEqual(events[2][1]["record"], record)


if __name__ == "__main__":
    unittest.main()
