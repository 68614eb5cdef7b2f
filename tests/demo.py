"""Shows the built programs at work: runs each under Wine, in a throwaway
prefix with the test stand-ins, and says in plain words what it handed to
the platform."""
import os
import shutil
import tempfile

os.environ["BRANNOSTEL_PREFIX"] = tempfile.mkdtemp(prefix="brannostel-demo-")
import rig  # noqa: E402  (reads the prefix from the environment)


def show_dial(result, meaning):
    print(f"\nbrannostelxp, with the dial dialog answering {result} ({meaning}):")
    with rig.Scratch() as scratch:
        log = scratch.file("dial.log")
        status = rig.run(rig.DIST / "brannostelxp.exe",
                         env={"RASDLG_STANDIN_LOG": rig.windows_path(log),
                              "RASDLG_STANDIN_RESULT": str(result)})
        events = dict(rig.read_dial_log(log))
    call = events.get("call")
    if call is None:
        print("  it never opened the dial dialog")
    else:
        book, phone = rig.unhex(call["phonebook"]), rig.unhex(call["phone"])
        record = rig.unhex(call["bytes"])
        print(f'  opened the dial dialog for the entry "{rig.unhex(call["entry"]).decode()}"')
        print(f"  phonebook: {book or 'none'}; phone number: {phone or 'none'}")
        print(f"  request record: {len(record)} bytes, size field {call['size']}, "
              f"other bytes {'all zero' if not any(record[4:]) else record[4:].hex()}")
        print(f"  the record was {'released' if events['exit']['record'] == 'freed' else 'left to the process end'}")
    print(f"  exit status {status}")


if __name__ == "__main__":
    print(f"Setting up a throwaway Wine prefix in {rig.PREFIX} ...")
    try:
        rig.ensure_prefix()
        show_dial(0, "the user closed it")
        show_dial(1, "connected")
    finally:
        rig.stop()
        shutil.rmtree(rig.PREFIX, ignore_errors=True)
