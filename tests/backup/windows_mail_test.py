#!/usr/bin/env python3
"""The Windows program's alert mail under Wine, through its own libcurl.

`qndbmgr.exe --test-alert` in a program folder with a Cyrillic name whose
settings name an SMTP server on loopback: with nothing listening it fails
(exit 1) and nothing is delivered; with the server up (the same small
server the Linux tests use) exactly one mail arrives, to both recipients,
with the Russian subject and body in UTF-8 and a Date header of now.

Usage: windows_mail_test.py QNDBMGR_EXE (under the Wine prefix of the run)
"""
import email
import email.header
import email.utils
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from datetime import datetime, timezone

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test_support"))
from program_checks import check, run_test  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.1)
    raise AssertionError("the SMTP server did not listen on port %d" % port)


def test_alert(exe, folder):
    return subprocess.run(["wine", exe, "--test-alert"], cwd=folder, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=180)


def main():
    exe_built = sys.argv[1]
    work = tempfile.mkdtemp(prefix="qn-mail-")
    server = None
    try:
        folder = os.path.join(work, "Учёт почта")
        os.makedirs(folder)
        exe = os.path.join(folder, "qndbmgr.exe")
        shutil.copy(exe_built, exe)
        port = free_port()
        settings = ('<?xml version="1.0" encoding="Windows-1251"?>\r\n<settings>\r\n  <alerts>\r\n    <smtp>\r\n'
                    "      <host>127.0.0.1</host>\r\n      <port>%d</port>\r\n"
                    "      <from>qndbmgr@office.test</from>\r\n"
                    "      <to>admin@office.test, it@contractor.test</to>\r\n    </smtp>\r\n  </alerts>\r\n"
                    "</settings>\r\n" % port).encode("cp1251")
        with open(os.path.join(folder, "settings.xml"), "wb") as f:
            f.write(settings)
        maildir = os.path.join(work, "mail")

        refused = test_alert(exe, folder)
        check(refused.returncode == 1, "no SMTP server, yet --test-alert ended with %d:\n%r\n%r"
              % (refused.returncode, refused.stdout, refused.stderr))

        server = subprocess.Popen(["/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", "127.0.0.1:%d" % port,
                                   "-c", "aiosmtpd.handlers.Mailbox", maildir], stdin=subprocess.DEVNULL)
        wait_listening(port)
        sent = test_alert(exe, folder)
        check(sent.returncode == 0, "--test-alert ended with %d:\n%r\n%r" % (sent.returncode, sent.stdout, sent.stderr))
        deadline = time.monotonic() + 10
        names = []
        while not names and time.monotonic() < deadline:
            names = os.listdir(os.path.join(maildir, "new")) if os.path.isdir(os.path.join(maildir, "new")) else []
            time.sleep(0.1)
        time.sleep(0.5)
        names = os.listdir(os.path.join(maildir, "new"))
        check(len(names) == 1, "%d mails received, not one" % len(names))
        with open(os.path.join(maildir, "new", names[0]), "rb") as f:
            mail = email.message_from_bytes(f.read())

        check(mail["To"] == "admin@office.test, it@contractor.test", "To: %r" % mail["To"])
        check(mail["From"] == "qndbmgr@office.test", "From: %r" % mail["From"])
        subject = str(email.header.make_header(email.header.decode_header(mail["Subject"])))
        check(subject.endswith("] Проверка оповещений Менеджера баз данных"), "Subject: %r" % subject)
        body = mail.get_payload(decode=True).decode("utf-8")
        check("Проверочное сообщение" in body, "the body lacks the test's message:\n%s" % body)
        sent_at = email.utils.parsedate_to_datetime(mail["Date"])
        skew = abs((datetime.now(timezone.utc) - sent_at).total_seconds())
        check(skew < 600, "Date %r is %d s off now" % (mail["Date"], skew))
        return 0
    finally:
        if server:
            server.terminate()
            server.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    run_test(lambda: main())
