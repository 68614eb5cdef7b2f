"""brannostelxp under Wine: what it hands the dial dialog, and what it does
with the record afterwards."""
import unittest

import rig
from rig import standins

# The platform's record for each architecture: its size, then zeros.
RECORD_SIZE = {"x86": 36, "x64": 48}[rig.ARCH]
RECORD = RECORD_SIZE.to_bytes(4, "little") + bytes(RECORD_SIZE - 4)


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
            with self.subTest(case):
                status, events = standins.dial(RASDLG_STANDIN_RESULT=result)
                self.assertEqual(status, 0)
                self.assertEqual([e for e, _ in events], standins.DIAL_SEQUENCE, events)
                call = events[0][1]
                self.assertEqual(call["main_thread"], "1", "the dialog ran off the main thread")
                self.assertIsNone(standins.unhex(call["phonebook"]))
                self.assertEqual(standins.unhex(call["entry"]), rig.ENTRY_NAME)
                self.assertIsNone(standins.unhex(call["phone"]))
                self.assertEqual(standins.unhex(call["bytes"]), RECORD)
                self.assertEqual((call["fixed"], call["global_size"]), ("1", str(RECORD_SIZE)),
                                 f"the record is not a fixed {RECORD_SIZE}-byte global block")
                self.assertEqual(events[2][1]["record"], record)


if __name__ == "__main__":
    unittest.main()
