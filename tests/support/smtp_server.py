#!/usr/bin/python3
"""A real SMTP server for the notification tests (aiosmtpd), on 127.0.0.1.

    smtp_server.py PORT MAILDIR [--starttls CERT KEY] [--smtps CERT KEY]
                   [--login USER PASSWORD]

--starttls offers STARTTLS and requires it; --smtps speaks TLS from the first
byte; --login requires that login (over TLS only). Each mail it accepts is
written to MAILDIR/<n>.eml, preceded by X-Envelope-From and X-Envelope-To
lines. Prints "ready" once it serves; ends on SIGTERM.
"""
import argparse
import os
import signal
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Keep:
    def __init__(self, maildir):
        self.maildir = maildir
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        head = "X-Envelope-From: %s\r\nX-Envelope-To: %s\r\n" % (
            envelope.mail_from, ",".join(envelope.rcpt_tos))
        path = os.path.join(self.maildir, "%d.eml" % self.count)
        with open(path + ".part", "wb") as f:
            f.write(head.encode() + envelope.original_content)
        os.rename(path + ".part", path)
        return "250 Message accepted"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("port", type=int)
    p.add_argument("maildir")
    p.add_argument("--starttls", nargs=2)
    p.add_argument("--smtps", nargs=2)
    p.add_argument("--login", nargs=2)
    a = p.parse_args()

    def context(files):
        c = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        c.load_cert_chain(*files)
        return c

    kwargs = {}
    if a.starttls:
        kwargs.update(tls_context=context(a.starttls), require_starttls=True)
    if a.login:
        user, password = a.login[0].encode(), a.login[1].encode()

        def check(server, session, envelope, mechanism, data):
            return AuthResult(success=data.login == user and data.password == password)

        kwargs.update(authenticator=check, auth_required=True,
                      auth_require_tls=bool(a.starttls or a.smtps))
    controller = Controller(Keep(a.maildir), hostname="127.0.0.1", port=a.port,
                            ssl_context=context(a.smtps) if a.smtps else None, **kwargs)
    controller.start()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("ready", flush=True)
    try:
        while True:
            signal.pause()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
