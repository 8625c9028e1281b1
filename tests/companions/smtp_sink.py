#!/usr/bin/python3
"""An SMTP server on a free loopback port for the mail companion's tests: it takes every message,
with or without a login, and saves each one as <folder>/<n>.eml (the text as received) beside
<folder>/<n>.txt (envelope sender, recipients and the login used, one per line). A login is
accepted only as LOGIN with PASSWORD; a wrong one is refused with 535. Prints "port <n>" once it
listens and runs until it is killed.

    smtp_sink.py FOLDER LOGIN PASSWORD
"""
import asyncio
import pathlib
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, folder):
        self.folder = pathlib.Path(folder)
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        name = self.folder / str(self.count)
        login = session.auth_data.decode() if isinstance(session.auth_data, bytes) else ""
        name.with_suffix(".txt").write_text(
            "\n".join(["from " + envelope.mail_from, "to " + " ".join(envelope.rcpt_tos), "login " + login]) + "\n")
        # The text is written last and whole: a test that sees it sees the envelope too.
        part = name.with_suffix(".part")
        part.write_bytes(envelope.original_content)
        part.rename(name.with_suffix(".eml"))
        return "250 OK"


def authenticator(login, password):
    def check(server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword) and auth_data.login == login and auth_data.password == password:
            return AuthResult(success=True, auth_data=auth_data.login)
        return AuthResult(success=False, handled=False)
    return check


async def main(folder, login, password):
    sink = Sink(folder)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(sink, authenticator=authenticator(login.encode(), password.encode()),
                     auth_require_tls=False),
        "127.0.0.1", 0)
    print("port", server.sockets[0].getsockname()[1], flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    asyncio.run(main(*sys.argv[1:4]))
