#!/usr/bin/env python3
"""A time-stamping authority (RFC 3161) on the loopback interface for the signing test: answers
each time-stamp request with `openssl ts -reply`, signed by the test's own TSA certificate.
    tsa_server.py <folder with tsa.pem and tsakey.pem> <file to write the port to>
It listens on 127.0.0.1 only, on a free port, until it is ended."""
import http.server
import os
import subprocess
import sys
import tempfile

folder, port_file = sys.argv[1], sys.argv[2]
config = os.path.join(folder, "tsa.cnf")
with open(config, "w") as f:
    f.write(f"""[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = {folder}/tsaserial
crypto_device = builtin
signer_cert = {folder}/tsa.pem
certs = {folder}/tsa.pem
signer_key = {folder}/tsakey.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
""")
with open(os.path.join(folder, "tsaserial"), "w") as f:
    f.write("01\n")


class TimeStamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        request = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory() as work:
            query, reply = os.path.join(work, "query.tsq"), os.path.join(work, "reply.tsr")
            with open(query, "wb") as f:
                f.write(request)
            made = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query, "-out", reply],
                                  capture_output=True)
            if made.returncode != 0:
                self.send_error(500, made.stderr.decode(errors="replace")[:200])
                return
            body = open(reply, "rb").read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(port_file + ".tmp", port_file)
server.serve_forever()
