#!/usr/bin/python3
"""The notification tests' local servers, on 127.0.0.1 at PORT, keeping what
they receive in DIR. Prints "ready" once it serves; ends on SIGTERM.

    notify_servers.py http PORT DIR [--tls]
        Answers POSTs as a group robot or a webhook would, and appends each
        request to DIR/requests.jsonl ({"target": path and query, "body"}).
        DIR/answer says how to answer from then on: success (the default),
        errcode (a robot's refusal), 500, or silent (no answer at all).
        Paths starting with /feishu answer {"code": …}, others {"errcode": …}.
    notify_servers.py smtp PORT DIR [--starttls] [--login USER PASSWORD]
        A real SMTP server (Debian's python3-aiosmtpd). Each mail it accepts
        is written to DIR/<n>.eml after X-Envelope-From and X-Envelope-To
        lines. --starttls offers STARTTLS and requires it; --login requires
        that login, over TLS only.

With --tls or --starttls the server's certificate for 127.0.0.1 is made with
openssl as DIR/cert.pem (for the client to trust as its CA) and DIR/key.pem.
"""
import argparse
import json
import os
import signal
import ssl
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def certificate(d):
    cert, key = os.path.join(d, "cert.pem"), os.path.join(d, "key.pem")
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                        "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    c.load_cert_chain(cert, key)
    return c


def http(a):
    lock = threading.Lock()

    class Robot(BaseHTTPRequestHandler):
        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            line = json.dumps({"target": self.path, "body": body.decode()}) + "\n"
            with lock, open(os.path.join(a.dir, "requests.jsonl"), "a") as f:
                f.write(line)
            try:
                with open(os.path.join(a.dir, "answer")) as f:
                    mode = f.read().strip()
            except OSError:
                mode = "success"
            if mode == "silent":
                time.sleep(600)
                return
            ok = mode == "success"
            if self.path.startswith("/feishu"):
                answer = {"code": 0, "msg": "success"} if ok else {
                    "code": 19021, "msg": "sign match fail"}
            else:
                answer = {"errcode": 0, "errmsg": "ok"} if ok else {
                    "errcode": 310000, "errmsg": "keywords not in content"}
            out = b"Internal Server Error" if mode == "500" else json.dumps(answer).encode()
            self.send_response(500 if mode == "500" else 200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(out)))
            self.end_headers()
            self.wfile.write(out)

        def log_message(self, *args):
            pass

    server = ThreadingHTTPServer(("127.0.0.1", a.port), Robot)
    server.daemon_threads = True
    if a.tls:
        server.socket = certificate(a.dir).wrap_socket(server.socket, server_side=True)
    print("ready", flush=True)
    server.serve_forever()


def smtp(a):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult

    class Keep:
        count = 0

        async def handle_DATA(self, server, session, envelope):
            Keep.count += 1
            path = os.path.join(a.dir, "%d.eml" % Keep.count)
            with open(path + ".part", "wb") as f:
                f.write(("X-Envelope-From: %s\r\nX-Envelope-To: %s\r\n" % (
                    envelope.mail_from, ",".join(envelope.rcpt_tos))).encode())
                f.write(envelope.original_content)
            os.rename(path + ".part", path)
            return "250 Message accepted"

    kwargs = {}
    if a.starttls:
        kwargs.update(tls_context=certificate(a.dir), require_starttls=True)
    if a.login:
        user, password = a.login[0].encode(), a.login[1].encode()
        kwargs.update(auth_required=True, auth_require_tls=True, authenticator=lambda s, ses, env, mech, d: AuthResult(
            success=d.login == user and d.password == password))
    controller = Controller(Keep(), hostname="127.0.0.1", port=a.port, **kwargs)
    controller.start()
    print("ready", flush=True)
    try:
        while True:
            signal.pause()
    finally:
        controller.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("kind", choices=["http", "smtp"])
    p.add_argument("port", type=int)
    p.add_argument("dir")
    p.add_argument("--tls", action="store_true")
    p.add_argument("--starttls", action="store_true")
    p.add_argument("--login", nargs=2)
    a = p.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    (http if a.kind == "http" else smtp)(a)


if __name__ == "__main__":
    main()
