"""Registry scenarios for brannostelwin: the keys it reads, in both hives
and (on 64-bit Windows) both views, set up exactly by tests/helpers/regset.c
in the test prefix."""
import rig
from rig import standins, wine

APP_PATHS = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\cmmgr32.exe"
MAPPINGS = "Software\\Microsoft\\Connection Manager\\Mappings"
# This user's virtual store of the machine-wide Mappings key, which a
# virtualized 32-bit brannostelwin reads first (under WOW6432Node on 64-bit
# Windows).
VIRTUAL_STORE = "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\Microsoft\\Connection Manager\\Mappings"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7
# Not a value's type: in its place, the key is made one that no one may read.
DENIED = "deny"


def wow64(key):
    """Where a key of HKLM\\Software is kept for 32-bit programs on 64-bit Windows."""
    return key.replace("Software\\", "Software\\WOW6432Node\\", 1)


def set_registry(values):
    """Clears every key brannostelwin could read, in both hives and both
    views, then stores values: (hive, key, value name or None, type, bytes)
    each, bytes exact, or denies reading the key where the type is DENIED."""
    keys = [(hive, key) for hive in ("HKLM", "HKCU") for key in (APP_PATHS, MAPPINGS)]
    keys += [("HKLM", wow64(key)) for key in (APP_PATHS, MAPPINGS)]
    keys += [("HKCU", VIRTUAL_STORE.replace("SOFTWARE", view, 1))
             for view in ("SOFTWARE", "SOFTWARE\\WOW6432Node")]
    steps = [f"del|{hive}\\{key}" for hive, key in keys]
    steps += [f"deny|{hive}\\{key}" if kind == DENIED else
              f"set|{hive}\\{key}|{name or ''}|{kind}|{data.hex()}"
              for hive, key, name, kind, data in values]
    status = wine.run(rig.BUILD / "standins" / "regset.exe", steps)
    assert status == 0, f"could not set up the registry ({status:#x}): {values}"


def profile_values(profile=b"C:\\zel.cmp"):
    """The Connection Manager stand-in registered, and a machine-wide profile."""
    return [("HKLM", APP_PATHS, None, REG_SZ, standins.CM_STANDIN.encode() + b"\0"),
            ("HKLM", MAPPINGS, rig.ENTRY_NAME.decode(), REG_SZ, profile + b"\0")]


def register_profile(profile=b"C:\\zel.cmp"):
    set_registry(profile_values(profile))
