"""What a release needs beyond working programs: the same bytes from every
clean build, the next version from the procedure that sets it, signatures
that verify without disturbing the programs, and with a timestamp, still
verify once the certificate has expired; ./build.sh, as a newcomer first
runs it, leaving every shipped file in dist/; and a test run killed
outright leaving no Wine server behind."""
import contextlib
import hashlib
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import rig
from rig import tsa, wine

ROOT = rig.SOURCE
PROGRAMS = [f"{name}.exe" for name in rig.SHIPPED]


def build(source, build_dir, dist, env=None, umask=None):
    """This architecture's programs and package, built from scratch into dist
    with its preset and summed as a release is, and nothing that is not
    shipped; env and umask are the builder's."""
    def run(command, cwd=None):
        subprocess.run(command, cwd=cwd, env=env, check=True, capture_output=True,
                       preexec_fn=umask and (lambda: os.umask(umask)))

    run(["cmake", "--preset", rig.ARCH, "-B", build_dir, "-DBUILD_TESTING=OFF",
         f"-DDIST_ROOT={dist}"], cwd=source)
    run(["cmake", "--build", build_dir, "--parallel", str(os.cpu_count()), "--target", "msi"])
    run(["cmake", "-DDIST=dist", "-P", source / "cmake" / "sums.cmake"], cwd=dist.parent)


def copy(destination, history=False):
    """The source as it is here, with or without its Git history."""
    ignored = ["build", "dist", "__pycache__"] + ([] if history else [".git"])
    shutil.copytree(ROOT, destination, ignore=shutil.ignore_patterns(*ignored))
    return destination


def pack_time(installer):
    """The release time pack.py gives packages built from a copy's installer/."""
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    return int(subprocess.run([sys.executable, "-c", "import pack; print(pack.release_time())"],
                              cwd=installer, env=env, check=True, capture_output=True).stdout)


def shipped(version=None):
    """The names of what one architecture's release build puts in dist."""
    return sorted([*(f"{rig.ARCH}/{p}" for p in PROGRAMS), rig.package(version=version).name,
                   "SHA256SUMS"])


def files(folder):
    return {str(p.relative_to(folder)): p.read_bytes() for p in folder.rglob("*") if p.is_file()}


class Builds(unittest.TestCase):
    """Release builds from a checkout with its history, made once: the same
    bytes from another clean build, and the next version from the same tree."""

    @classmethod
    def setUpClass(cls):
        scratch = cls.enterClassContext(rig.scratch())
        cls.checkout = copy(scratch / "checkout", history=True)
        cls.epoch = pack_time(cls.checkout / "installer")
        build(cls.checkout, cls.checkout / "build", cls.checkout / "dist")
        cls.dist = files(cls.checkout / "dist")

    def test_two_clean_builds(self):
        # Then an export outside any Git repository dated by SOURCE_DATE_EPOCH,
        # built as a third party might: another path, time zone, locale and
        # umask, a second later. Every file shipped, and the sums, the same
        # bytes.
        time.sleep(1)  # a build time stamped anywhere would differ
        with tempfile.TemporaryDirectory() as outside:
            export = copy(pathlib.Path(outside) / "export" / "src")
            build(export, export / "build", export / "dist", umask=0o077,
                  env={**os.environ, "SOURCE_DATE_EPOCH": str(self.epoch), "TZ": "UTC-14",
                       "LC_ALL": "C.UTF-8", "LANG": "de_DE.UTF-8"})
            dists = [self.dist, files(export / "dist")]
            self.assertEqual(sorted(dists[0]), sorted(dists[1]))
            self.assertEqual(sorted(dists[0]), shipped())
            # The sums are those of the files, as sha256sum -c checks them.
            sums = dict(reversed(line.split("  ")) for line in
                        dists[0]["SHA256SUMS"].decode().splitlines())
            self.assertEqual(sums, {name: hashlib.sha256(data).hexdigest()
                                    for name, data in dists[0].items() if name != "SHA256SUMS"})
            for name, first in dists[0].items():
                with self.subTest(name):
                    self.assertEqual(first, dists[1][name], "two clean builds differ")
                    for path in (self.checkout, outside):
                        self.assertNotIn(str(path).encode(), first, "a build path inside")
        # An export unpacked inside another checkout is not dated by that
        # checkout's history.
        nested = shutil.copytree(ROOT / "installer", self.checkout / "build" / "export" / "installer")
        self.assertEqual(pack_time(nested), 315532800)

    def test_next_version(self):
        # The release procedure, in the tree that built this version: the
        # next one set in project() in CMakeLists.txt, and nothing else, then
        # the build again. Programs and a package that pass the checks of the
        # files, with the new version everywhere: nothing kept from before.
        next_version = rig.next_version()
        lists = self.checkout / "CMakeLists.txt"
        text = lists.read_text()
        lists.write_text(text.replace(f"VERSION {rig.VERSION} ", f"VERSION {next_version} ", 1))
        self.assertNotEqual(lists.read_text(), text, "no project() version to bump")
        dist = self.checkout / "dist"
        shutil.rmtree(dist)  # as build.sh does
        build(self.checkout, self.checkout / "build", dist)
        self.assertEqual(sorted(files(dist)), shipped(next_version))
        # The tests of the files, run as CTest would run them on that tree.
        checks = subprocess.run(
            [sys.executable, "-m", "unittest", "test_pe", "test_msi.Package"],
            cwd=self.checkout / "tests", capture_output=True, text=True,
            env={**os.environ, "BRANNOSTEL_DIST_ROOT": str(dist), "BRANNOSTEL_VERSION": next_version,
                 "BRANNOSTEL_BUILD": str(self.checkout / "build")})
        self.assertEqual(checks.returncode, 0, checks.stderr)
        # And the README's sample reports, against the new check under Wine,
        # in a prefix of their own with this tree's stand-ins: nothing in
        # them pins what a release changes. (Once: the x64 check's texts are
        # the x86 one's.)
        if rig.ARCH != "x64":
            return
        prefix = rig.BUILD / "bumpprefix"
        try:
            samples = subprocess.run(
                [sys.executable, "run.py", "--prefix", "test_check.Consoles.test_readme_samples"],
                cwd=self.checkout / "tests", capture_output=True, text=True,
                env={**os.environ, "BRANNOSTEL_DIST_ROOT": str(dist), "BRANNOSTEL_VERSION": next_version,
                     "BRANNOSTEL_BUILD": str(rig.BUILD), "BRANNOSTEL_PREFIX_NAME": prefix.name,
                     "BRANNOSTEL_PREFIX_ARCH": rig.ARCH})
        finally:
            wine.stop(prefix)
            shutil.rmtree(prefix, ignore_errors=True)
        self.assertEqual(samples.returncode, 0, samples.stderr[-6000:])


class BuildScript(unittest.TestCase):
    """./build.sh on a fresh copy of the checkout."""
    CASES = [
        # (case, environment, lines it shows)
        # No guest is built for the demonstration: that takes minutes.
        ("a machine that cannot run 32-bit programs, no x86 test guest built",
         {"BRANNOSTEL_NO32": "1"},
         ["x86 programs: this machine cannot run 32-bit programs; ./test.sh shows them at work in "
          "the emulated x86 test guest, which it builds once",
          "Running the x64 programs in the Wine prefix"]),
    ]

    def test_build_script(self):
        for case, env, lines in self.CASES:
            with self.subTest(case), rig.scratch() as folder:
                checkout = copy(folder / "checkout", history=True)
                # The environment of a newcomer's shell: none of the tests'.
                clean = {k: v for k, v in os.environ.items() if not k.startswith("BRANNOSTEL_")}
                run = subprocess.run(["./build.sh"], cwd=checkout, capture_output=True, text=True,
                                     env={**clean, **env, "BRANNOSTEL_GUEST_CACHE": str(folder)})
                self.assertEqual(run.returncode, 0, run.stdout[-4000:] + run.stderr[-4000:])
                shown = run.stdout.splitlines()
                for line in lines:
                    self.assertTrue(any(s.startswith(line) for s in shown), f"{line!r} not in\n"
                                    + run.stdout[-4000:])
                self.assertEqual(sorted(files(checkout / "dist")), sorted(
                    [f"{arch}/{p}" for arch in ("x86", "x64") for p in PROGRAMS]
                    + [rig.package(arch).name for arch in ("x86", "x64")] + ["SHA256SUMS"]))
                self.assertFalse((checkout / "build" / "guest").exists(), "a guest was started")


class KilledRun(unittest.TestCase):
    """A test run killed with its whole process group never reaches
    wine.stop(): its prefix's wineserver ends by itself all the same."""
    CASES = [
        # (case, whether the run is inside a program when it is killed)
        ("killed while a program runs", True),
        ("killed with the prefix ready, before any program", False),
    ]

    def test_no_wineserver_left(self):
        for case, in_program in self.CASES:
            with self.subTest(case), rig.scratch() as log:
                folder = wine.ROOT / "killedprefix"
                self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
                self.addCleanup(wine.stop, folder)  # first, where the test failed
                run = subprocess.Popen(
                    [sys.executable, "-c", f"import test_release as t; t.run_until_killed({in_program})",
                     log / "cm.log"], cwd=ROOT / "tests", stdout=subprocess.PIPE,
                    env={**os.environ, "BRANNOSTEL_PREFIX_NAME": folder.name}, start_new_session=True)
                try:
                    run.stdout.readline()
                    self.assertTrue(servers(folder), "no wineserver while the run runs")
                finally:
                    os.killpg(run.pid, signal.SIGKILL)
                    run.wait()
                    run.stdout.close()
                limit = wine.PERSIST_SECONDS + 15
                deadline = time.monotonic() + limit
                while servers(folder) and time.monotonic() < deadline:
                    time.sleep(1)
                self.assertEqual(servers(folder), [], f"still there {limit} s on")


def run_until_killed(in_program):
    """A test's run in its prefix, waiting to be killed once it says so: inside
    the Connection Manager stand-in, which logs to the file argv names, or
    before any program."""
    wine.ensure_prefix()
    if in_program:
        log = pathlib.Path(sys.argv[1])
        wine.start(wine.system_folder() / "cmmgr32.exe",
                   env={"CMMGR_STANDIN_LOG": wine.windows_path(log), "CMMGR_STANDIN_HOLD": "Z:\\none"})
        while not log.exists():
            time.sleep(0.1)
    print(flush=True)
    time.sleep(600)


def servers(prefix):
    """The process ids of the wineservers of a prefix."""
    found = []
    for proc in pathlib.Path("/proc").glob("[0-9]*"):
        with contextlib.suppress(OSError):
            if b"wineserver" in (proc / "cmdline").read_bytes().split(b"\0")[0] and \
                    f"WINEPREFIX={prefix}\0".encode() in (proc / "environ").read_bytes():
                found.append(int(proc.name))
    return found


class Signing(unittest.TestCase):
    """sign.sh on copies of this architecture's programs and package, laid out
    as dist/ is, with a throwaway certificate valid for two days."""

    def setUp(self):
        self.scratch = self.enterContext(rig.scratch())
        self.cert, self.key = self.scratch / "cert.pem", self.scratch / "key.pem"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-keyout", self.key, "-out", self.cert, "-subj", "/CN=Brannostel test signer",
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        signed = self.scratch / "signed"
        (signed / rig.ARCH).mkdir(parents=True)
        self.originals = [rig.DIST / name for name in PROGRAMS] + [rig.package()]
        self.files = [pathlib.Path(shutil.copy2(file, signed / file.relative_to(rig.DIST_ROOT)))
                      for file in self.originals]
        self.signed_root = signed

    def sign(self, **extra):
        env = {**os.environ, "BRANNOSTEL_SIGN_CERT": str(self.cert),
               "BRANNOSTEL_SIGN_KEY": str(self.key), **extra}
        return subprocess.run([ROOT / "sign.sh", *self.files], env=env, capture_output=True,
                              text=True)

    def verify(self, file, timestamp_root=None, at=None):
        command = ["osslsigncode", "verify", "-CAfile", self.cert, "-in", file]
        command += ["-TSA-CAfile", timestamp_root] if timestamp_root else []
        command += ["-time", str(at)] if at else []
        return subprocess.run(command, capture_output=True, text=True)

    def test_sign_and_verify(self):
        # Three days on, the certificate has expired: only a timestamped
        # signature still verifies, by the time the authority vouched for.
        later = int(time.time()) + 3 * 86400
        with rig.scratch() as folder, tsa.authority(folder) as (url, root):
            # (case, extra environment, verifies after the certificate expired)
            for case, extra, verifies_later in [
                ("without a timestamp", {}, False),
                ("with a timestamp", {"BRANNOSTEL_SIGN_TIMESTAMP_URL": url}, True),
            ]:
                # Twice: a build run again over signed files signs them afresh.
                for _ in range(2):
                    result = self.sign(**extra)
                    self.assertEqual(result.returncode, 0, result.stderr)
                for file, original in zip(self.files, self.originals):
                    with self.subTest(case, file=file.name):
                        self.assertNotEqual(file.read_bytes(), original.read_bytes())
                        now = self.verify(file, root)
                        self.assertEqual(now.returncode, 0, now.stdout + now.stderr)
                        self.assertIn("Number of verified signatures: 1", now.stdout)
                        self.assertEqual("Timestamp Server Signature verification: ok" in now.stdout,
                                         verifies_later)
                        self.assertEqual(self.verify(file, root, at=later).returncode == 0,
                                         verifies_later)
        # The signed programs still carry what the unsigned ones must.
        checks = subprocess.run([sys.executable, "-m", "unittest", "test_pe"],
                                cwd=pathlib.Path(__file__).parent, capture_output=True, text=True,
                                env={**os.environ, "BRANNOSTEL_DIST_ROOT": str(self.signed_root)})
        self.assertEqual(checks.returncode, 0, checks.stderr)

    def test_timestamp_server_not_answering(self):
        with socket.socket() as probe:  # a port nothing listens on
            probe.bind(("127.0.0.1", 0))
            url = f"http://127.0.0.1:{probe.getsockname()[1]}/"
        result = self.sign(BRANNOSTEL_SIGN_TIMESTAMP_URL=url)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
        self.assertIn(f"the timestamp server {url} gave no timestamp", result.stderr)
        # Nothing half-signed: every file as it was, nothing left beside them.
        for file, original in zip(self.files, self.originals):
            self.assertEqual(file.read_bytes(), original.read_bytes(), file.name)
        self.assertEqual(sorted(p.name for p in self.signed_root.rglob("*") if p.is_file()),
                         sorted(f.name for f in self.files))

    def test_unsigned_without_both(self):
        file = self.files[0]
        base = {k: v for k, v in os.environ.items() if not k.startswith("BRANNOSTEL_SIGN")}
        # (what is given, exit status): nothing is an unsigned build; a part alone, a mistake
        for given, status in (({}, 0), ({"BRANNOSTEL_SIGN_CERT": "cert.pem"}, 1),
                              ({"BRANNOSTEL_SIGN_TIMESTAMP_URL": "http://127.0.0.1:1/"}, 1)):
            with self.subTest(given=given):
                result = subprocess.run([ROOT / "sign.sh", file], capture_output=True,
                                        env={**base, **given})
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(file.read_bytes(), self.originals[0].read_bytes())


if __name__ == "__main__":
    unittest.main()
