"""Shows the built programs of one architecture at work: runs each under
Wine, in the project's prefix for that architecture with the test stand-ins,
and says in plain words what it handed to the platform; then the check's
report on a workstation set up wrongly, in English and in Spanish. Where this
machine cannot run that architecture, says so in one line; where it runs it
only in the x86 test guest, shows it there if the guest is built."""
import pathlib
import sys

# The test rig, which this shares, lives in tests/.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
import rig
from rig import places, registry, standins, wine


def show_dial(result, meaning):
    print(f"\n{rig.ARCH} brannostelxp, with the dial dialog answering {result} ({meaning}):")
    status, events = standins.dial(RASDLG_STANDIN_RESULT=str(result))
    events = dict(events)
    call = events.get("call")
    if call is None:
        print("  it never opened the dial dialog")
    else:
        book, phone = standins.unhex(call["phonebook"]), standins.unhex(call["phone"])
        record = standins.unhex(call["bytes"])
        print(f'  opened the dial dialog for the entry "{standins.unhex(call["entry"]).decode()}"')
        print(f"  phonebook: {book or 'none'}; phone number: {phone or 'none'}")
        print(f"  request record: {len(record)} bytes, size field {call['size']}, "
              f"other bytes {'all zero' if not any(record[4:]) else record[4:].hex()}")
        print(f"  the record was {'released' if events['exit']['record'] == 'freed' else 'left to the process end'}")
    print(f"  exit status {status}")


def show_connection_manager():
    print(f"\n{rig.ARCH} brannostelwin, with the Connection Manager stand-in registered under"
          "\nApp Paths and a profile mapped to the entry in the machine-wide hive:")
    registry.register_profile(b"C:\\Documents and Settings\\All Users\\Zel IP\\zel.cmp")
    with standins.cm_log() as log:
        status = wine.run(rig.WIN, env=log.holding().env)
        print(f"  it ended with exit status {status}")
        if log.wait_for("start"):
            running = "end" not in log.text()
            print(f"  the shell started the Connection Manager{', which ran on' if running else ''}:"
                  f"\n    {log.cm_starts()[0][1].decode()}")
            log.release()
            log.wait_for("end")
        else:
            print("  and nothing was started")


def show_check():
    print(f"\n{rig.ARCH} brannostelcheck, where the machine-wide Mappings key maps another "
          "connection\n(the user's key maps this one) and the phonebook has no entry:")
    registry.set_registry(registry.profile_values()[:1] + [
        ("HKLM", registry.MAPPINGS, "Another connection", registry.REG_SZ, b"C:\\other.cmp\0"),
        ("HKCU", registry.MAPPINGS, rig.ENTRY_NAME.decode(), registry.REG_SZ, b"C:\\zel.cmp\0")])
    for language in standins.LOCALES:
        status, report, _ = standins.check(language, phonebook=None)
        print(f"\n  with {standins.LOCALES[language]}, exit status {status}:\n")
        print("\n".join(f"    {line}" for line in report.splitlines()))


if __name__ == "__main__":
    if places.where({rig.ARCH})[0] == "guest":
        # Building the guest takes minutes: only ./test.sh, which needs it,
        # does that.
        if not places.guest_built():
            print(f"\n{rig.ARCH} programs: this machine cannot run 32-bit programs; ./test.sh "
                  "shows them at work in the emulated x86 test guest, which it builds once")
            sys.exit(0)
        print(f"\nThis machine cannot run 32-bit programs: showing the {rig.ARCH} programs "
              "in the emulated x86 test guest", flush=True)
    if why := places.enter({rig.ARCH}, sys.argv):
        print(f"\n{rig.ARCH} programs not shown: {why}")
        sys.exit(0)
    print(f"\nRunning the {rig.ARCH} programs in the Wine prefix {wine.prefix()} ...")
    try:
        wine.ensure_prefix()
        show_dial(0, "the user closed it")
        show_dial(1, "connected")
        show_connection_manager()
        show_check()
    finally:
        wine.stop()
