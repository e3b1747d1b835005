#!/usr/bin/env python3
"""The Windows program, run headless under Wine, seen from Linux.

An administrator's "--list" runs in a short-lived instance of its own, a
workstation client on the Linux side asks the program over TCP and UDP on
loopback, a second Windows instance hands "activate" to the first and ends,
a third hands it "--list" and prints the register it answers, and Ctrl+C
ends the first in order. With the Linux program given as well, both answer
the same requests and the answers must be the same bytes, but for the
instance number each run draws at random and the check sum over it.

Usage: windows_program_test.py QNDBMGR_EXE [LINUX_QNDBMGR]
Needs WINEPREFIX of a running wineserver (scripts/test-windows.sh).
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test_support"))
from program_checks import check, main_log, run_test, wait_for_log  # noqa: E402

KEY = "K9"
REPLY_PORT = 7985  # where the program answers datagrams


def frame(payload, number, key=KEY):
    body = "%08X %s" % (number, payload)
    return hashlib.sha1((body + key).encode("cp1251")).hexdigest() + " " + body


def install(program, folder, port):
    target = os.path.join(folder, os.path.basename(program))
    shutil.copyfile(program, target)
    os.chmod(target, 0o755)
    with open(os.path.join(folder, "settings.xml"), "wb") as f:
        f.write(('<?xml version="1.0" encoding="Windows-1251"?>\r\n<settings>\r\n  <PIN>%s</PIN>\r\n'
                 "  <tcp-port>%d</tcp-port>\r\n  <udp-port>%d</udp-port>\r\n"
                 "  <data>\r\n    <db0000>\r\n      <path>localhost/53030:C:\\srv\\tx.fd3</path>\r\n"
                 "      <user>SYSDBA</user>\r\n      <pwd>quillfern</pwd>\r\n      <caption>Main base</caption>\r\n"
                 "    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n"
                 % (KEY, port, port)).encode("cp1251"))
    open(os.path.join(folder, "debug.txt"), "wb").close()
    return target


def start(command, folder, env=None):
    return subprocess.Popen(command + ["--headless=1"], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def reply_socket():
    """A UDP socket on the program's reply port, on a loopback address of
    this run's own (the program answers the sender's address on that fixed
    port), so that runs at the same time never share it."""
    rng = random.Random(os.getpid())
    for _ in range(100):
        address = "127.%d.%d.%d" % (rng.randrange(1, 255), rng.randrange(0, 256), rng.randrange(1, 255))
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            s.bind((address, REPLY_PORT))
            return s
        except OSError:
            s.close()
    raise AssertionError("no loopback address has the reply port %d free" % REPLY_PORT)


def port_is_free(port):
    for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
        with socket.socket(socket.AF_INET, kind) as s:
            try:
                s.bind(("0.0.0.0", port))
            except OSError:
                return False
    return True


def listening_ports():
    """Two neighbouring ports free for TCP and UDP, below the kernel's
    ephemeral range so that no outgoing connection takes them meanwhile."""
    while True:
        port = random.randrange(20000, 32000)
        if port_is_free(port) and port_is_free(port + 1):
            return port


def tcp_request(port, line):
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(line.encode("cp1251") + b"\r\n")
        reply = b""
        while True:
            chunk = s.recv(4096)
            if not chunk:
                return reply
            reply += chunk


def udp_request(udp, port, datagram):
    udp.sendto(datagram.encode("cp1251"), ("127.0.0.1", port))
    data, _ = udp.recvfrom(4096)
    return data


def check_frame(packet, payload):
    """A reply: SHA-1 of body + key, a blank, the body (number, blank, payload)."""
    body = packet[41:]
    check(packet[40:41] == b" " and packet[49:50] == b" ", "not a framed reply: %r" % packet)
    check(packet[:40].decode() == hashlib.sha1(body + KEY.encode()).hexdigest(), "wrong check sum: %r" % packet)
    check(body[9:] == payload, "payload %r, expected %r" % (body[9:], payload))


def ask(port, udp):
    """The answers a workstation gets: TCP, then UDP, both get-active-servers."""
    return (tcp_request(port, frame("get-active-servers", 0x2A)), udp_request(udp, port, frame("get-active-servers", 7)))


def check_list(command, folder):
    """An administrator's --list prints the register."""
    listed = subprocess.run(command + ["--list"], cwd=folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    check(listed.returncode == 0, "--list failed: %r" % (listed.stdout + listed.stderr))
    check(b"0\tdb0000\tMain base\tlocalhost/53030:C:\\srv\\tx.fd3\t" in listed.stdout,
          "--list printed %r" % listed.stdout)


def run_windows(program, work, udp, port):
    wine = ["wine"]
    folder = os.path.join(work, "windows")
    os.mkdir(folder)
    exe = install(program, folder, port)
    # Without a running instance the command runs in a short-lived one.
    check_list(wine + [exe], folder)
    first = start(wine + [exe], folder)
    try:
        wait_for_log(folder, b"started info server on TCP port %d" % port)
        answers = ask(port, udp)
        host = socket.gethostname().encode()
        check_frame(answers[0][:-2], b"active-server 0000002A " + host + b" 1")
        check(answers[0].endswith(b"\r\n"), "a TCP reply ends its line")
        check_frame(answers[1], b"active-server 00000007 " + host + b" 1")
        check(tcp_request(port, frame("GET-ACTIVE-SERVERS", 1)) == b"", "commands are case-sensitive")

        # A second Windows instance hands "activate" to the first and ends.
        second = start(wine + [exe], folder)
        check(second.wait(60) == 0, "the second instance did not end with 0")
        wait_for_log(folder, b" intercom activate\r\n")
        check(first.poll() is None, "the first instance must still run")

        # An administrator's command is carried out by the running instance.
        check_list(wine + [exe], folder)

        # Ctrl+C reaches the program as a console event: an orderly exit.
        first.send_signal(signal.SIGINT)
        check(first.wait(60) == 0, "the first instance did not end in order")
        wait_for_log(folder, "Выход из программы".encode("cp1251"))
        # No Firebird client is in the program folder here: the user reads why.
        check(b"fbclient.dll" in main_log(folder) or b"Firebird" in main_log(folder), "no word about the client")
        return answers
    finally:
        if first.poll() is None:
            first.kill()
            first.wait()


def run_linux(program, work, udp, port):
    folder = os.path.join(work, "linux")
    os.mkdir(folder)
    exe = install(program, folder, port)
    objects = os.path.join(work, "objects")
    os.mkdir(objects)
    env = dict(os.environ, QN_OBJECTS_DIR=objects, QN_REGISTRY_DIR=os.path.join(objects, "registry"))
    env.pop("DISPLAY", None)
    run = start([exe], folder, env)
    try:
        wait_for_log(folder, b"started info server on TCP port %d" % port)
        answers = ask(port, udp)
        check_frame(answers[0][:-2], b"active-server 0000002A " + socket.gethostname().encode() + b" 1")
        check_frame(answers[1], b"active-server 00000007 " + socket.gethostname().encode() + b" 1")
        return answers
    finally:
        run.send_signal(signal.SIGTERM)
        run.wait(60)


def main():
    program = sys.argv[1]
    linux = sys.argv[2] if len(sys.argv) > 2 and os.path.isfile(sys.argv[2]) else None
    port = listening_ports()
    udp = reply_socket()
    udp.settimeout(20)
    with tempfile.TemporaryDirectory(prefix="qnwin.") as work:
        windows = run_windows(program, work, udp, port)
        print("Windows program answered: %r" % (windows,))
        if linux:
            same = run_linux(linux, work, udp, port + 1)
            print("Linux program answered:   %r" % (same,))
            for w, l in zip(windows, same):
                check(len(w) == len(l) and w[40:41] + w[49:] == l[40:41] + l[49:],
                      "the Windows and the Linux program answer differently")
        else:
            print("no Linux program given: answers checked against the protocol only")
    return 0


if __name__ == "__main__":
    run_test(main)
