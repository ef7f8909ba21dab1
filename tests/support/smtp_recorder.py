"""A real SMTP server on 127.0.0.1 for the mail tests.

Usage: smtp_recorder.py OUTPUT_FOLDER [RCPT_REPLY]
Writes OUTPUT_FOLDER/port once it listens, appends every command it is given
to OUTPUT_FOLDER/commands.txt in order, and saves each accepted message as
message<N>.eml with its envelope in envelope<N>.json. Stops on SIGTERM.
With RCPT_REPLY (say "550 5.7.1 Relaying denied") every recipient is
refused with that reply, as a server that does not take the mail.
"""

import json
import os
import signal
import socket
import sys
import threading

from aiosmtpd.controller import Controller

out = sys.argv[1]
rcpt_reply = sys.argv[2] if len(sys.argv) > 2 else None
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


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    controller = Controller(Recorder(), hostname="127.0.0.1", port=free_port(),
                            server_hostname="oculara-test")
    controller.start()
    with open(os.path.join(out, "port.tmp"), "w") as f:
        f.write(str(controller.port))
    os.rename(os.path.join(out, "port.tmp"), os.path.join(out, "port"))
    while not stop.wait(0.1):
        pass
    controller.stop()


main()
