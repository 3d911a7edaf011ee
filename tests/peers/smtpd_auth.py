# SMTP test server for the mail client tests (Debian's /usr/bin/python3 with
# python3-aiosmtpd). Usage: smtpd_auth.py PORT MAILDIR [--no-ehlo] [--mechs A,B]
# Users: dave/pw3, and "long" whose password is 70 bytes. Every accepted message is
# written to MAILDIR as <ns>.eml behind X-Envelope-* lines; every AUTH attempt is
# appended to MAILDIR/auth.log as "MECHANISM user ok|fail".
import asyncio, hmac, hashlib, os, sys, time
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

USERS = {b"dave": b"pw3", b"long": b"L" * 70}
args = sys.argv[1:]
port = int(args[0])
maildir = args[1]
no_ehlo = "--no-ehlo" in args
mechs = None
if "--mechs" in args:
    mechs = set(args[args.index("--mechs") + 1].upper().split(","))
os.makedirs(maildir, exist_ok=True)
ALL = {"PLAIN", "LOGIN", "CRAM-MD5", "CRAM-SHA1"}


def log_auth(mech, user, ok):
    with open(os.path.join(maildir, "auth.log"), "a") as f:
        f.write(f"{mech} {user.decode(errors='replace') if user else '-'} {'ok' if ok else 'fail'}\n")


def authenticator(server, session, envelope, mechanism, auth_data):
    if isinstance(auth_data, LoginPassword):
        ok = USERS.get(auth_data.login) == auth_data.password
        log_auth(mechanism, auth_data.login, ok)
        return AuthResult(success=ok, handled=False, auth_data=auth_data.login)
    log_auth(mechanism, None, False)
    return AuthResult(success=False, handled=False)


class Handler:
    async def _cram(self, server, mech, digest):
        chal = f"<{os.getpid()}.{time.time_ns()}@127.0.0.1>".encode()
        resp = await server.challenge_auth(chal)
        if not isinstance(resp, bytes):
            return AuthResult(success=False, handled=True)
        try:
            user, mac = resp.rsplit(b" ", 1)
        except ValueError:
            log_auth(mech, None, False)
            return AuthResult(success=False, handled=False)
        key = USERS.get(user)
        ok = key is not None and hmac.compare_digest(
            hmac.new(key, chal, digest).hexdigest().encode(), mac)
        log_auth(mech, user, ok)
        return AuthResult(success=ok, handled=False, auth_data=user)

    async def auth_CRAM__MD5(self, server, args):
        return await self._cram(server, "CRAM-MD5", hashlib.md5)

    async def auth_CRAM__SHA1(self, server, args):
        return await self._cram(server, "CRAM-SHA1", hashlib.sha1)

    async def handle_DATA(self, server, session, envelope):
        fn = os.path.join(maildir, f"{time.time_ns()}.eml")
        with open(fn + ".tmp", "wb") as f:
            f.write(b"X-Envelope-From: " + envelope.mail_from.encode() + b"\r\n")
            for r in envelope.rcpt_tos:
                f.write(b"X-Envelope-To: " + r.encode() + b"\r\n")
            f.write(b"X-Auth: " + repr(session.auth_data).encode() + b"\r\n")
            f.write(envelope.original_content or envelope.content)
        os.rename(fn + ".tmp", fn)
        return "250 OK"


class NoEhloSMTP(SMTP):
    async def smtp_EHLO(self, hostname):
        await self.push("502 5.5.2 EHLO not supported here")


class TestController(Controller):
    def factory(self):
        kwargs = dict(self.SMTP_kwargs)
        cls = NoEhloSMTP if no_ehlo else SMTP
        return cls(self.handler, **kwargs)


excluded = list(ALL - mechs) if mechs is not None else None
c = TestController(Handler(), hostname="127.0.0.1", port=port, authenticator=authenticator,
                   auth_require_tls=False, auth_required=False,
                   auth_exclude_mechanism=excluded)
c.start()
print("ready", port, flush=True)
try:
    while True:
        time.sleep(3600)
finally:
    c.stop()
