"""Where x86 behaviour runs in the emulated x86 guest: `guest_fixture.py
image` builds the guest if this machine has none (test.sh, before CTest);
`start` boots one guest for the whole test run and `stop` powers it off
(CTest's fixture). Elsewhere the fixture is skipped (77) and `image` does
nothing."""
import sys

import archs
import guest

if __name__ == "__main__":
    step = sys.argv[1]
    if archs.place("x86")[0] != "guest":
        if step == "image":
            sys.exit(0)
        print("skipped: x86 behaviour does not run in the guest here")
        sys.exit(77)
    try:
        {"image": guest.ensure_image, "start": guest.boot, "stop": guest.stop}[step]()
    except guest.GuestError as error:
        print(f"guest: {error}")
        sys.exit(1)
