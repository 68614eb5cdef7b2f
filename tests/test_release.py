"""What a release needs beyond working programs: the same bytes from every
clean build, and signatures that verify without disturbing the programs."""
import os
import pathlib
import shutil
import subprocess
import sys
import unittest

import rig

ROOT = rig.SOURCE
PROGRAMS = [f"{name}.exe" for name in rig.PROGRAMS]
TOOLCHAINS = {"x86": "i686-w64-mingw32.cmake", "x64": "x86_64-w64-mingw32.cmake"}


def build(source, build_dir, dist):
    subprocess.run(["cmake", "-S", source, "-B", build_dir, "-DBUILD_TESTING=OFF",
                    f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/{TOOLCHAINS[rig.ARCH]}",
                    f"-DPython3_EXECUTABLE={sys.executable}", f"-DDIST_ROOT={dist}"],
                   check=True, capture_output=True)
    subprocess.run(["cmake", "--build", build_dir, "--target", "brannostelxp", "brannostelwin"],
                   check=True, capture_output=True)


class Reproducible(unittest.TestCase):
    def test_two_clean_builds(self):
        # Two copies of the source at different paths, built from scratch.
        with rig.scratch() as scratch:
            dists = []
            for folder in ("one", "second/copy"):
                source = scratch / folder / "src"
                shutil.copytree(ROOT, source, ignore=shutil.ignore_patterns(
                    ".git", "build", "dist", "__pycache__"))
                build(source, source / "build", source / "dist")
                dists.append(source / "dist" / rig.ARCH)
            for name in PROGRAMS:
                with self.subTest(name):
                    first, second = ((d / name).read_bytes() for d in dists)
                    self.assertEqual(first, second, "two clean builds differ")
                    self.assertNotIn(str(scratch).encode(), first, "a build path inside")


class Signing(unittest.TestCase):
    def test_sign_and_verify(self):
        with rig.scratch() as scratch:
            cert, key = scratch / "cert.pem", scratch / "key.pem"
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                            "-keyout", key, "-out", cert, "-subj", "/CN=Brannostel test signer",
                            "-addext", "extendedKeyUsage=codeSigning"],
                           check=True, capture_output=True)
            # Laid out as dist/ is: the programs in their architecture's folder.
            signed = scratch / "signed"
            (signed / rig.ARCH).mkdir(parents=True)
            originals = [rig.DIST / name for name in PROGRAMS] + [rig.package()]
            files = [pathlib.Path(shutil.copy2(file, signed / file.relative_to(rig.DIST_ROOT)))
                     for file in originals]
            env = {**os.environ, "BRANNOSTEL_SIGN_CERT": str(cert), "BRANNOSTEL_SIGN_KEY": str(key)}
            # Twice: a build run again over signed files signs them afresh.
            for _ in range(2):
                subprocess.run([ROOT / "sign.sh", *files], env=env, check=True)
            for file, original in zip(files, originals):
                with self.subTest(file.name):
                    self.assertNotEqual(file.read_bytes(), original.read_bytes())
                    verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", file],
                                            capture_output=True, text=True)
                    self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
                    self.assertIn("Number of verified signatures: 1", verify.stdout)
            # The signed programs still carry what the unsigned ones must.
            checks = subprocess.run([sys.executable, "-m", "unittest", "test_pe"],
                                    cwd=pathlib.Path(__file__).parent, capture_output=True,
                                    text=True, env={**os.environ, "BRANNOSTEL_DIST_ROOT": str(signed)})
            self.assertEqual(checks.returncode, 0, checks.stderr)

    def test_unsigned_without_both(self):
        with rig.scratch() as scratch:
            file = shutil.copy2(rig.DIST / PROGRAMS[0], scratch)
            base = {k: v for k, v in os.environ.items() if not k.startswith("BRANNOSTEL_SIGN")}
            # (what is given, exit status): neither is an unsigned build, one alone a mistake
            for given, status in (({}, 0), ({"BRANNOSTEL_SIGN_CERT": "cert.pem"}, 1)):
                with self.subTest(given=given):
                    result = subprocess.run([ROOT / "sign.sh", file], capture_output=True,
                                            env={**base, **given})
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertEqual(pathlib.Path(file).read_bytes(),
                                     (rig.DIST / PROGRAMS[0]).read_bytes())


if __name__ == "__main__":
    unittest.main()
