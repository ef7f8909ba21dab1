"""A real SMTP server on 127.0.0.1 for the mail tests.

Usage: smtp_recorder.py OUTPUT_FOLDER [RCPT_REPLY] [options]
Writes OUTPUT_FOLDER/port once it listens, appends every command it is given
to OUTPUT_FOLDER/commands.txt in order, and saves each accepted message as
message<N>.eml with its envelope in envelope<N>.json. Stops on SIGTERM.
With RCPT_REPLY (say "550 5.7.1 Relaying denied") every recipient is
refused with that reply, as a server that does not take the mail.

Options, as a submission server:
  --cert FILE --key FILE   the server's certificate chain and key
  --tls starttls|implicit  offer STARTTLS and require it, or speak TLS from
                           the first byte
  --login USER:PASSWORD    require a login with this account
  --only-login             offer AUTH LOGIN only
"""

import argparse
import json
import os
import signal
import socket
import ssl
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

parser = argparse.ArgumentParser()
parser.add_argument("out")
parser.add_argument("rcpt_reply", nargs="?")
parser.add_argument("--cert")
parser.add_argument("--key")
parser.add_argument("--tls", choices=["starttls", "implicit"])
parser.add_argument("--login")
parser.add_argument("--only-login", action="store_true")
args = parser.parse_args()
out = args.out
rcpt_reply = args.rcpt_reply
lock = threading.Lock()


def record(line):
    with lock, open(os.path.join(out, "commands.txt"), "a") as f:
        f.write(line + "\n")


class Recorder:
    def __init__(self):
        self.count = 0

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        record("EHLO " + hostname)
        session.host_name = hostname
        return responses

    async def handle_HELO(self, server, session, envelope, hostname):
        record("HELO " + hostname)
        session.host_name = hostname
        return "250 " + server.hostname

    async def handle_RSET(self, server, session, envelope):
        record("RSET")
        return "250 OK"

    async def handle_MAIL(self, server, session, envelope, address, options):
        record("MAIL FROM:<%s>" % address)
        envelope.mail_from = address
        envelope.mail_options.extend(options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        record("RCPT TO:<%s>" % address)
        if rcpt_reply:
            return rcpt_reply
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        record("DATA")
        n = self.count
        self.count += 1
        with open(os.path.join(out, "message%d.eml" % n), "wb") as f:
            f.write(envelope.original_content)
        with open(os.path.join(out, "envelope%d.json" % n), "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos}, f)
        return "250 OK"

    async def handle_QUIT(self, server, session, envelope):
        record("QUIT")
        return "221 Bye"

    def handle_STARTTLS(self, server, session, envelope):
        record("STARTTLS")
        return True


def authenticator(server, session, envelope, mechanism, auth_data):
    user, password = args.login.split(":", 1)
    ok = isinstance(auth_data, LoginPassword) and \
        auth_data.login.decode() == user and auth_data.password.decode() == password
    record("AUTH %s %s %s" % (mechanism, auth_data.login.decode(), "accepted" if ok else "refused"))
    return AuthResult(success=ok, handled=False)


def server_options():
    options = {}
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    if args.tls == "starttls":
        options.update(tls_context=context, require_starttls=True)
    elif args.tls == "implicit":
        options.update(ssl_context=context)
    if args.login:
        # With TLS from the first byte the server cannot tell it is inside
        # TLS, and would never offer the login if it had to.
        options.update(authenticator=authenticator, auth_required=True,
                       auth_require_tls=args.tls != "implicit")
        if args.only_login:
            options.update(auth_exclude_mechanism=["PLAIN"])
    return options


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    controller = Controller(Recorder(), hostname="127.0.0.1", port=free_port(),
                            server_hostname="oculara-test", **server_options())
    controller.start()
    with open(os.path.join(out, "port.tmp"), "w") as f:
        f.write(str(controller.port))
    os.rename(os.path.join(out, "port.tmp"), os.path.join(out, "port"))
    while not stop.wait(0.1):
        pass
    controller.stop()


main()
