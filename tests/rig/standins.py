"""What the programs handed to the platform, as the test stand-ins recorded
it: the dial dialog (tests/standins/rasdlg.c) for brannostelxp, the
Connection Manager (tests/standins/cmmgr32.c) for brannostelwin, the Remote
Access API's phonebook lookups (tests/standins/rasapi32.c) for the check.
Each stand-in logs to a file the test names, and stays "open" until the test
releases it, when asked to."""
import contextlib
import time

import rig
from rig import wine

DIAL_SEQUENCE = ["call", "return", "exit"]  # what the dial stand-in logs for one run
# Where the rig installs the Connection Manager stand-in in the prefix, and
# the show command brannostelwin starts it with.
CM_STANDIN = "C:\\Program Files\\CM Stand In\\cmmgr32.exe"
SW_SHOW = 5


def unhex(text):
    return None if text == "-" else bytes.fromhex(text)


class StandInLog:
    """One stand-in's log file and its release file, in a scratch folder.
    env is what the program under test passes on to the stand-in."""

    def __init__(self, folder, variable):
        self.path, self.release_file = folder / "standin.log", folder / "release"
        self.variable = variable
        self.env = {f"{variable}_LOG": wine.windows_path(self.path)}

    def holding(self):
        """The same log, with the stand-in staying until release()."""
        self.env[f"{self.variable}_HOLD"] = wine.windows_path(self.release_file)
        return self

    def release(self):
        self.release_file.touch()

    def text(self):
        return self.path.read_text() if self.path.exists() else ""

    def wait_for(self, event, timeout=60):
        deadline = time.monotonic() + timeout
        while event not in self.text():
            if time.monotonic() > deadline:
                return False
            time.sleep(0.05)
        return True

    def events(self):
        """The log as a list of (event, fields) pairs."""
        events = []
        for line in self.text().splitlines():
            event, *pairs = line.split()
            events.append((event, dict(p.split("=", 1) for p in pairs)))
        return events

    def cm_starts(self):
        """The Connection Manager stand-in's starts: [(show command, command line)]."""
        return [(int(f["show"]), bytes.fromhex(f["command"])) for e, f in self.events()
                if e == "start"]


@contextlib.contextmanager
def _log(variable):
    with rig.scratch() as folder:
        log = StandInLog(folder, variable)
        try:
            yield log
        finally:
            log.release()  # a held stand-in does not outlive its case


def attacks_log():
    return _log("ATTACKS")


def dial_log():
    return _log("RASDLG_STANDIN")


def cm_log():
    return _log("CMMGR_STANDIN")


def dial(program=None, args=(), **extra_env):
    """Runs brannostelxp (or an installed copy); returns its status and what
    the dialog was handed, without the fields that differ between processes."""
    with dial_log() as log:
        status = wine.run(program or rig.XP, args, {**log.env, **extra_env})
        events = [(e, {k: v for k, v in f.items() if k != "pid"}) for e, f in log.events()]
        return status, events


def cm_command(profile, program=CM_STANDIN):
    """The command line the Connection Manager gets: how the shell starts a
    program with a parameter string."""
    command = f'"{program}"'.encode()
    return command + b" " + profile if profile else command


def connect(program=None, args=()):
    """Runs brannostelwin (or an installed copy) on what the registry holds,
    which starts the Connection Manager stand-in; returns its status and how
    the stand-in was started."""
    with cm_log() as log:
        status = wine.run(program or rig.WIN, args, log.env)
        assert log.wait_for("end"), (f"{program or rig.WIN} (status {status}) started no "
                                     f"Connection Manager that ended; its log: {log.text()!r}")
        return status, log.cm_starts()


# The check's languages: the locale a user's session has, and the code page a
# console of that language uses, in which redirected output is written.
LOCALES = {"en": "C.UTF-8", "es": "es_ES.UTF-8"}
CODE_PAGES = {"en": "cp437", "es": "cp850"}


def check(language="en", phonebook="all users", program=None, args=(), env=None, cwd=None):
    """Runs brannostelcheck (or another build of it, with env added, in the
    folder cwd) with its output redirected, the Remote Access API stand-in
    holding the entry in that phonebook ("all users", "user", or None: no
    entry); returns its status, its report as a machine of that language
    decodes it, and the lookups the stand-in was asked for."""
    with _log("RASAPI_STANDIN") as log:
        env = {**log.env, "LC_ALL": LOCALES[language],
               "WINEDLLOVERRIDES": wine.OVERRIDES + ";rasapi32=n", **(env or {})}
        if phonebook:
            env["RASAPI_STANDIN_ENTRY"] = phonebook
        status, report = wine.output(program or rig.CHECK, args, env, cwd=cwd)
        return status, report.decode(CODE_PAGES[language]), log.events()
