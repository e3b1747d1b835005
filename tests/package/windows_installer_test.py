#!/usr/bin/env python3
"""The Windows installer under Wine, in a Wine prefix of its own.

A silent install into a folder with a Cyrillic name that already holds the
office's settings: the program, the uninstaller, the Start-menu entry, the
start at logon and the Uninstall key are there and the settings are kept.
Installed again with the service, the start at logon goes. The service runs
under Wine's service manager: it is running, answers a workstation, a user's
start beside it ends, and "sc stop" ends it in order; a start that fails
(its channel taken) says why in the log and to the service manager. While a user's program
runs the uninstaller fails and changes nothing. An update without the service
removes it, one with it brings it back. The silent uninstall stops it in
order, removes the installer's files and entries and the service, and keeps
the settings, databases, backups and logs.

With the Firebird client it ships (FBCLIENT_DLL), the office's own client
in the program folder stays through install, update and uninstall, and the
installer's copy in "fb30c" comes and goes with the installation.

Usage: windows_installer_test.py QNDBMGR_SETUP_EXE VERSION PLATFORM_TESTS_EXE [FBCLIENT_DLL]
(PLATFORM_TESTS_EXE holds the channel's slots, as its child mode "hold_mutex")
"""
import hashlib
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test_support"))
from program_checks import check, main_log, run_test, wait_for_log  # noqa: E402

KEY = "K7"
FOLDER = "C:\\Учёт\\Менеджер"  # /D= takes no quotes: a name without blanks
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qndbmgr"
RUN_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
SHORTCUT = "ProgramData/Microsoft/Windows/Start Menu/Programs/Менеджер баз данных.lnk"
STATE = "C:\\ProgramData\\qndbmgr"
STATE_KEY = "HKLM\\Software\\qndbmgr"
EXIT_LINE = "Выход из программы".encode("cp1251")


def free_port():
    """A port free for TCP and UDP, below the kernel's ephemeral range."""
    while True:
        port = random.randrange(20000, 32000)
        try:
            for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
                with socket.socket(socket.AF_INET, kind) as s:
                    s.bind(("0.0.0.0", port))
            return port
        except OSError:
            continue


class Wine:
    def __init__(self, prefix):
        self.prefix = prefix
        # No desktop entries of the shortcut in the real home folder.
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")

    def start(self):
        os.makedirs(self.prefix)
        self.boot("--init")
        # Wine 8 leaves two service managers running in a prefix it has just
        # made, each answering every other request ("sc start" then finds no
        # service): the prefix is started once more, as it is on a machine.
        self.stop()
        self.boot()

    def boot(self, *args):
        # Kept a minute past its last program: one the test could not end
        # (it was killed) still goes in the end.
        subprocess.run(["wineserver", "-p60"], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.run(["wineboot", *args], timeout=300)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL)

    def run(self, args, timeout=120):
        """Output goes through a file: Wine's own processes that a command
        starts (services, the service itself) would keep a pipe open."""
        with tempfile.TemporaryFile() as out:
            done = subprocess.run(["wine"] + args, env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout)
            out.seek(0)
            done.stdout = out.read()
        return done

    def path(self, windows_path):
        """The Linux path of a C: path of the prefix."""
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def key_values(self, key):
        """A registry key's values as "name"=data lines, or None without it."""
        exported = self.path("C:\\exported.reg")
        if os.path.exists(exported):
            os.remove(exported)
        if self.run(["reg", "export", key, "C:\\exported.reg", "/y"]).returncode != 0:
            return None
        with open(exported, "rb") as f:
            return f.read().decode("utf-16")

    def service_state(self):
        """RUNNING, STOPPED, ... or None when there is no such service."""
        query = self.run(["sc", "query", "qndbmgr"])
        if query.returncode != 0:
            return None
        for word in ("START_PENDING", "STOP_PENDING", "RUNNING", "STOPPED"):
            if word.encode() in query.stdout:
                return word
        raise AssertionError("sc query said %r" % query.stdout)

    def wait_for_state(self, state, seconds=90):
        deadline = time.monotonic() + seconds
        while self.service_state() != state:
            check(time.monotonic() < deadline, "the service is %s, not %s" % (self.service_state(), state))
            time.sleep(0.5)


def hold_service_channel(wine, holder, work):
    """Test programs that hold every slot of the service's channel."""
    holders = []
    for slot in range(10):
        ready = os.path.join(work, "slot-%d" % slot)
        holders.append(subprocess.Popen(
            ["wine", holder, "--qn-child=hold_mutex", "Global\\RU.QUORVEN.RAZAD.INTERCOM.%02X.mutex" % slot,
             "Z:" + ready.replace("/", "\\")], env=wine.env, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for(lambda: os.path.exists(ready), "slot %d held" % slot, 60)
    return holders


def wait_for(condition, what, seconds=90):
    deadline = time.monotonic() + seconds
    while not condition():
        check(time.monotonic() < deadline, "not within %d s: %s" % (seconds, what))
        time.sleep(0.25)


def ask_active_servers(port):
    body = "%08X %s" % (0x2A, "get-active-servers")
    line = hashlib.sha1((body + KEY).encode("cp1251")).hexdigest() + " " + body
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(line.encode("cp1251") + b"\r\n")
        reply = b""
        while chunk := s.recv(4096):
            reply += chunk
    return reply


def test(setup, version, wine, holder, work, client):
    folder = wine.path(FOLDER)
    state = wine.path(STATE)
    port = free_port()
    # The office's settings, databases and backups are in the folder already,
    # as an earlier layout kept them beside the program.
    os.makedirs(os.path.join(folder, "data"))
    os.makedirs(os.path.join(folder, "backup", "0000"))
    settings = ('<?xml version="1.0" encoding="Windows-1251"?>\r\n<settings>\r\n  <PIN>%s</PIN>\r\n'
                "  <tcp-port>%d</tcp-port>\r\n  <udp-port>%d</udp-port>\r\n  <data/>\r\n"
                "  <data_state>initialized</data_state>\r\n</settings>\r\n" % (KEY, port, port)).encode("cp1251")
    with open(os.path.join(folder, "settings.xml"), "wb") as f:
        f.write(settings)
    kept = {os.path.join(folder, "data", "tx.fd3"): b"database", os.path.join(folder, "backup", "0000", "a.fbk"): b"bk"}
    # The office's own client for the classic server is there too.
    shipped = os.path.join(folder, "fb30c", "fbclient.dll")
    if client:
        kept[os.path.join(folder, "fbclient.dll")] = b"the office's own client"
    for path, data in kept.items():
        with open(path, "wb") as f:
            f.write(data)
    # Where they are after the install: the state folder, but for the client.
    kept = {(p if p.endswith("fbclient.dll") else p.replace(folder, state)): d for p, d in kept.items()}

    def check_clients():
        if not client:
            return
        with open(client, "rb") as f, open(shipped, "rb") as g:
            check(f.read() == g.read(), "fb30c\\fbclient.dll is not the shipped client")
        with open(os.path.join(folder, "fbclient.dll"), "rb") as f:
            check(f.read() == b"the office's own client", "the office's own client was replaced")

    # The tray program's install: started at logon, no service.
    installed = wine.run([setup, "/S", "/D=" + FOLDER], timeout=300)
    check(installed.returncode == 0, "the silent install ended with %d" % installed.returncode)
    run = wine.key_values(RUN_KEY) or ""
    check('"qndbmgr"="\\"%s\\\\qndbmgr.exe\\" --hidden=1"' % FOLDER.replace("\\", "\\\\") in run,
          "no hidden start at logon:\n%s" % run)
    check(wine.service_state() is None, "a service without /SERVICE=1")
    check_clients()
    # The state moved out of the program folder, which is the administrators'
    # alone now, and the program is told where it went.
    for path, data in kept.items():
        with open(path, "rb") as f:
            check(f.read() == data, "not moved whole: %s" % path)
    check(not os.path.exists(os.path.join(folder, "settings.xml")) and not os.path.exists(os.path.join(folder, "data")),
          "the state is still beside the program")
    values = wine.key_values(STATE_KEY) or ""
    check('"StateFolder"="%s"' % STATE.replace("\\", "\\\\") in values and
          '"ProgramFolder"="%s"' % FOLDER.replace("\\", "\\\\") in values, "where the state is:\n%s" % values)

    # Installed again with the service, which takes the start at logon's place.
    installed = wine.run([setup, "/S", "/SERVICE=1", "/D=" + FOLDER], timeout=300)
    check(installed.returncode == 0, "the silent install ended with %d" % installed.returncode)
    check("qndbmgr" not in (wine.key_values(RUN_KEY) or ""), "the start at logon beside the service")
    exe = os.path.join(folder, "qndbmgr.exe")
    for path in (exe, os.path.join(folder, "uninstall.exe"), os.path.join(wine.prefix, "drive_c", SHORTCUT)):
        check(os.path.isfile(path), "not installed: %s" % path)
    with open(os.path.join(state, "settings.xml"), "rb") as f:
        check(b"<PIN>%s</PIN>" % KEY.encode() in f.read(), "the settings were replaced")
    values = wine.key_values(UNINSTALL_KEY)
    check(values is not None, "no Uninstall key")
    for expected in ('"DisplayName"="Менеджер баз данных"', '"DisplayVersion"="%s"' % version,
                     '"InstallLocation"="%s"' % FOLDER.replace("\\", "\\\\"),
                     '"UninstallString"="\\"%s\\\\uninstall.exe\\""' % FOLDER.replace("\\", "\\\\"),
                     '"QuietUninstallString"="\\"%s\\\\uninstall.exe\\" /S"' % FOLDER.replace("\\", "\\\\"),
                     '"Publisher"=', '"EstimatedSize"=dword:'):
        check(expected in values, "the Uninstall key lacks %s:\n%s" % (expected, values))

    # The installer started the service: the program runs and answers.
    wine.wait_for_state("RUNNING")
    wait_for_log(state, b"started info server on TCP port %d" % port, 90)
    reply = ask_active_servers(port)
    check(b" active-server 0000002A " in reply, "the service answered %r" % reply)
    # A user's start beside the service says so and ends: no second register.
    try:
        beside = wine.run([FOLDER + "\\qndbmgr.exe", "--headless=1"], timeout=60)
    except subprocess.TimeoutExpired:
        raise AssertionError("a start beside the service kept running")
    check(beside.returncode == 0 and b"qndbmgr --backup=" in beside.stdout,
          "a start beside the service: %d %r" % (beside.returncode, beside.stdout))
    check(wine.run(["sc", "stop", "qndbmgr"]).returncode == 0, "sc stop failed")
    wine.wait_for_state("STOPPED")
    check(main_log(state).count(EXIT_LINE) == 1, "the stopped service did not end in order:\n%s"
          % main_log(state).decode("cp1251"))

    # A start that fails is written where the administrator looks: nobody
    # reads the standard error of a service. Every slot of its channel taken
    # (by test programs that hold them), the service cannot make its own.
    holders = hold_service_channel(wine, holder, work)
    try:
        check(wine.run(["sc", "start", "qndbmgr"]).returncode == 0, "sc start failed")
        wine.wait_for_state("STOPPED")
        failure = "Невозможно создать канал связи между копиями программы".encode("cp1251")
        check(failure in main_log(state), "the failed start is not in the log:\n%s" % main_log(state).decode("cp1251"))
        query = wine.run(["sc", "query", "qndbmgr"]).stdout
        check(b"1066" in query, "the manager did not hear of the failure: %r" % query)
    finally:
        for h in holders:
            h.kill()
            h.wait()

    # A program that runs is never left half removed: the uninstaller, run in
    # place so that its exit code is seen, fails and changes nothing.
    program = subprocess.Popen(["wine", FOLDER + "\\qndbmgr.exe", "--headless=1"], env=wine.env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        bound = b"started info server on TCP port %d" % port
        wait_for(lambda: main_log(state).count(bound) == 2, "the user's program's info server")
        refused = wine.run([FOLDER + "\\uninstall.exe", "/S", "_?=" + FOLDER])
        check(refused.returncode != 0, "the uninstaller removed a running program")
        check(os.path.isfile(exe) and wine.key_values(UNINSTALL_KEY) is not None and wine.service_state() == "STOPPED",
              "a refused uninstall changed the installation")
    finally:
        program.send_signal(signal.SIGINT)
        program.wait(60)

    # An update without the service removes it and starts the program at
    # logon again; one with it brings it back, running.
    check(wine.run([setup, "/S", "/SERVICE=0", "/D=" + FOLDER], timeout=300).returncode == 0, "/SERVICE=0 failed")
    check(wine.service_state() is None, "the service stayed without /SERVICE=1")
    check("qndbmgr" in (wine.key_values(RUN_KEY) or ""), "no start at logon without the service")
    check_clients()
    check(wine.run([setup, "/S", "/SERVICE=1", "/D=" + FOLDER], timeout=300).returncode == 0, "/SERVICE=1 failed")
    wine.wait_for_state("RUNNING")

    # The uninstaller stops a running service in order, then removes it.
    check(wine.run([FOLDER + "\\uninstall.exe", "/S"]).returncode == 0, "the silent uninstall failed")
    # The uninstaller runs on from a copy of itself in the temporary folder.
    wait_for(lambda: not os.path.exists(os.path.join(folder, "uninstall.exe")), "the uninstaller's end")
    check(not os.path.exists(exe), "the program is still there")
    check(not os.path.exists(shipped) and not os.path.exists(os.path.dirname(shipped)),
          "the installer's client or its folder fb30c is still there")
    check(main_log(state).count(EXIT_LINE) == 3, "the uninstall did not stop the service in order")
    check(wine.service_state() is None, "the service is still registered")
    check(wine.key_values(UNINSTALL_KEY) is None, "the Uninstall key is still there")
    check("qndbmgr" not in (wine.key_values(RUN_KEY) or ""), "the start at logon is still there")
    check(not os.path.exists(os.path.join(wine.prefix, "drive_c", SHORTCUT)), "the Start-menu entry is still there")
    for path, data in kept.items():
        with open(path, "rb") as f:
            check(f.read() == data, "not kept: %s" % path)
    check(os.path.isfile(os.path.join(state, "settings.xml")), "the settings were removed")
    check(wine.key_values(STATE_KEY) is None, "the key of the state's place is still there")


def main():
    setup, version, holder = sys.argv[1], sys.argv[2], sys.argv[3]
    client = sys.argv[4] if len(sys.argv) > 4 and sys.argv[4] else None
    # A test run that is ended still ends its Wine and removes the prefix.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    with tempfile.TemporaryDirectory(prefix="qn-установка.") as work:
        wine = Wine(os.path.join(work, "prefix"))
        try:
            wine.start()
            shutil.copyfile(setup, wine.path("C:\\setup.exe"))
            started = time.monotonic()
            test("C:\\setup.exe", version, wine, holder, work, client)
            print("installed, served, stopped and uninstalled in %.0f s" % (time.monotonic() - started))
        finally:
            wine.stop()
    return 0


if __name__ == "__main__":
    run_test(main)
