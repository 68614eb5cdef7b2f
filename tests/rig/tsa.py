"""A throwaway RFC 3161 timestamping authority on 127.0.0.1, for the signing
tests: its own root and signer, made in a scratch folder, with `openssl ts
-reply` answering each request, only while the test holds it."""
import contextlib
import http.server
import subprocess
import threading

CONFIG = """
[ tsa ]
default_tsa = throwaway
[ throwaway ]
serial = {folder}/serial
crypto_device = builtin
signer_cert = {folder}/signer.pem
signer_key = {folder}/signer.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def openssl(*args, folder):
    subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)


def make_authority(folder):
    """A root, and a signer it certifies for timestamping only."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", "root.key",
            "-out", "root.pem", "-subj", "/CN=Brannostel test timestamp root", "-addext",
            "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign",
            folder=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=Brannostel test timestamp signer", folder=folder)
    (folder / "signer.ext").write_text("extendedKeyUsage=critical,timeStamping\n"
                                       "basicConstraints=CA:FALSE\n")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "root.pem", "-CAkey", "root.key",
            "-CAcreateserial", "-days", "2", "-extfile", "signer.ext", "-out", "signer.pem",
            folder=folder)
    (folder / "serial").write_text("01\n")
    (folder / "tsa.cnf").write_text(CONFIG.format(folder=folder))


@contextlib.contextmanager
def authority(folder):
    """Yields (the authority's URL, its root certificate) while it serves."""
    make_authority(folder)

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):  # the name http.server calls; one request at a time
            (folder / "query.tsq").write_bytes(self.rfile.read(int(self.headers["Content-Length"])))
            openssl("ts", "-reply", "-config", "tsa.cnf", "-queryfile", "query.tsq", "-out",
                    "reply.tsr", folder=folder)
            reply = (folder / "reply.tsr").read_bytes()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield f"http://127.0.0.1:{server.server_address[1]}/", folder / "root.pem"
    finally:
        server.shutdown()
        server.server_close()
