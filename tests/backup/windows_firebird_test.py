#!/usr/bin/env python3
"""The Windows program's database work under Wine, through the Firebird
client built from Debian's source, against the Linux servers on loopback.

qndbmgr.exe runs from a program folder with a Cyrillic name, with the
client in "fb30c" (Firebird 3.0's) and, from the workstation's part on, as
"fbclient.dll" in that folder (the classic server's). Its entries name databases the Linux servers
hold by the servers' own paths, as a workstation's entries on a remote
server do; through Wine's Z: drive the program sees the same files.

- --backup of the Firebird 3.0 entry: a .bk3 in its backup folder, proved
  by a restore, and its catalogue line with the file's size and SHA-256;
- --restore of that backup after a row changed: the row is back and the
  replaced file is in "prev";
- --restore of the Linux tests' logical dump (.pbz) onto that entry: a new
  database made on the 3.0 server, checked row by row as the Linux tests
  check it;
- a workstation's "get-database-info-by-num" and "perform-database-backup"
  of the classic server's entry answered by the running program (a .fbk
  made through the program folder's client, then proved by --verify), and
  with the Linux program given, answered byte for byte as the Linux
  program answers them.

Usage: windows_firebird_test.py QNDBMGR_EXE FBCLIENT_DLL WRITE_DUMP_ARCHIVE_EXE [LINUX_QNDBMGR]
Needs WINEPREFIX of a running wineserver (scripts/test-windows.sh).
"""
import csv
import hashlib
import io
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test_support"))
from program_checks import check, run_test, wait_for_log  # noqa: E402

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
USER, PASSWORD, KEY = "SYSDBA", "quillfern", "K9"


def isql(database, script):
    """Runs SQL with the Linux isql-fb as a client of the servers; the rows
    printed without headings, stripped, in UTF-8."""
    env = {k: v for k, v in os.environ.items() if k not in ("FIREBIRD", "FIREBIRD_LOCK", "ISC_USER", "ISC_PASSWORD")}
    args = ["isql-fb", "-q", "-bail", "-ch", "UTF8"]
    if database:
        args += ["-user", USER, "-password", PASSWORD, database]
    done = subprocess.run(args, input=("set heading off;\n" + script).encode(), capture_output=True, env=env,
                          timeout=120)
    check(done.returncode == 0, "isql-fb failed on %r:\n%s" % (script, (done.stdout + done.stderr).decode()))
    return [line.strip() for line in done.stdout.decode().splitlines() if line.strip()]


def settings(port, entries, more=""):
    """The settings file: entries of (name, path, backup folder[, more of
    "backup"]), then more elements of the root."""
    text = ('<?xml version="1.0" encoding="Windows-1251"?>\r\n<settings>\r\n  <PIN>%s</PIN>\r\n'
            "  <tcp-port>%d</tcp-port>\r\n  <data>\r\n" % (KEY, port))
    for name, path, folder, *backup in entries:
        text += ("    <%s>\r\n      <path>%s</path>\r\n      <user>%s</user>\r\n      <pwd>%s</pwd>\r\n"
                 "      <caption>%s</caption>\r\n      <backup>\r\n        <path>%s</path>\r\n%s      </backup>\r\n"
                 "    </%s>\r\n" % (name, path, USER, PASSWORD, "База " + name, folder, "".join(backup), name))
    return (text + "  </data>\r\n  <data_state>initialized</data_state>\r\n" + more +
            "</settings>\r\n").encode("cp1251")


def install(exe, folder, client, settings_bytes):
    os.makedirs(os.path.join(folder, "fb30c"))
    target = os.path.join(folder, os.path.basename(exe))
    shutil.copyfile(exe, target)
    os.chmod(target, 0o755)
    if client:
        shutil.copyfile(client, os.path.join(folder, "fb30c", "fbclient.dll"))
    with open(os.path.join(folder, "settings.xml"), "wb") as f:
        f.write(settings_bytes)
    open(os.path.join(folder, "ignore-udp.txt"), "wb").close()
    return target


def run(command, folder, env=None, timeout=300):
    done = subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    return done.returncode, done.stdout + done.stderr


def catalogue(folder):
    with open(os.path.join(folder, "catalogue.txt"), "rb") as f:
        lines = [line for line in f.read().decode("cp1251").splitlines() if not line.startswith("#")]
    return list(csv.DictReader(io.StringIO("\n".join(lines)), delimiter="\t"))


def frame(payload, number):
    body = "%08X %s" % (number, payload)
    return hashlib.sha1((body + KEY).encode("cp1251")).hexdigest() + " " + body


def ask(port, payload, number):
    """One workstation request over TCP; the reply's payload."""
    with socket.create_connection(("127.0.0.1", port), timeout=300) as s:
        s.sendall(frame(payload, number).encode("cp1251") + b"\r\n")
        reply = b""
        while True:
            chunk = s.recv(4096)
            if not chunk:
                break
            reply += chunk
    reply = reply.rstrip(b"\r\n")
    body = reply[41:]
    check(reply[:40].decode() == hashlib.sha1(body + KEY.encode()).hexdigest(), "wrong check sum: %r" % reply)
    return body[9:]


def free_port():
    while True:
        port = random.randrange(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("0.0.0.0", port))
                return port
            except OSError:
                pass


def workstation(command, folder, port, env=None):
    """The program started headless, asked what a workstation asks, ended."""
    program = subprocess.Popen(command + ["--headless=1"], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for_log(folder, b"started info server on TCP port %d" % port, 120)
        return ask(port, "get-database-info-by-num 1 V3", 0x11), ask(port, "perform-database-backup db0001", 0x2A)
    finally:
        program.send_signal(signal.SIGINT if command[0] == "wine" else signal.SIGTERM)
        try:
            program.wait(60)
        except subprocess.TimeoutExpired:
            program.kill()
            program.wait()


def main():
    exe, client, dump_writer = (os.path.abspath(a) for a in sys.argv[1:4])
    linux = sys.argv[4] if len(sys.argv) > 4 and os.path.isfile(sys.argv[4]) else None
    check(subprocess.run(["bash", os.path.join(SCRIPTS, "firebird-servers.sh"), "start"],
                         stdout=subprocess.DEVNULL).returncode == 0, "the Linux servers do not run")
    work = tempfile.mkdtemp(prefix="qnwinfb.")
    try:
        # Folders the servers write into and the program reads, whoever runs
        # either.
        os.chmod(work, 0o755)
        data, bk3, fbk = (os.path.join(work, n) for n in ("data", "bk3", "fbk"))
        for d in (data, bk3, fbk):
            os.mkdir(d)
            os.chmod(d, 0o777)
        fd3, fdb = os.path.join(data, "tx.fd3"), os.path.join(data, "tx.fdb")
        for path in ("127.0.0.1/53030:" + fd3, "127.0.0.1/3050:" + fdb):
            isql("", "create database '%s' user '%s' password '%s' page_size 4096 default character set win1251;\n"
                 "create table t (id integer, s varchar(20));\ncommit;\n"
                 "insert into t values (1, 'one');\ninsert into t values (2, 'two');\ncommit;\n"
                 % (path, USER, PASSWORD))
        fb30_entry = "127.0.0.1/53030:" + fd3
        entries = [("db0000", fb30_entry, bk3), ("db0001", "127.0.0.1:" + fdb, fbk)]
        port = free_port()
        folder = os.path.join(work, "Учёт база")
        program = install(exe, folder, client, settings(port, entries))
        wine = ["wine", program]

        # The backup, its proof and its line in the catalogue.
        code, out = run(wine + ["--backup=db0000"], folder)
        check(code == 0, "--backup ended with %d: %s" % (code, out.decode("cp1251", "replace")))
        backups = [n for n in os.listdir(bk3) if n.startswith("backup-") and n.endswith(".bk3")]
        check(len(backups) == 1, "backup folder holds %r" % os.listdir(bk3))
        backup = os.path.join(bk3, backups[0])
        with open(backup, "rb") as f:
            content = f.read()
        lines = catalogue(bk3)
        check(len(lines) == 1, "catalogue: %r" % lines)
        line = lines[0]
        check(line["file"] == backups[0] and line["entry"] == "db0000" and line["outcome"] == "ok",
              "catalogue line %r" % line)
        check(line["verification"] == "verified" and int(line["restore_ms"]) > 0, "not proved: %r" % line)
        check(int(line["size"]) == len(content) and line["sha256"] == hashlib.sha256(content).hexdigest(),
              "the catalogue's size and SHA-256 are not the file's: %r" % line)
        check(line["counts"] == "T=2", "record counts %r" % line["counts"])

        # The restore brings the changed row back; the replaced file goes aside.
        isql(fb30_entry, "update t set s = 'changed' where id = 1;\ncommit;\n")
        code, out = run(wine + ["--restore=db0000", "--from=" + backup, "--yes=1"], folder)
        check(code == 0, "--restore ended with %d: %s" % (code, out.decode("cp1251", "replace")))
        check(isql(fb30_entry, "select id || ':' || s from t order by id;") == ["1:one", "2:two"],
              "the restored rows are not the backup's")
        check(len(os.listdir(os.path.join(data, "prev"))) == 1, "prev holds %r" % os.listdir(os.path.join(data, "prev")))

        # The logical dump: a new database on the 3.0 server, row by row.
        dump = os.path.join(work, "dump.pbz")
        code, out = run(["wine", dump_writer, dump], work)
        check(code == 0 and os.path.isfile(dump), "write_dump_archive: %r" % out)
        code, out = run(wine + ["--restore=db0000", "--from=" + dump, "--yes=1"], folder)
        check(code == 0, "--restore of the dump ended with %d: %s" % (code, out.decode("cp1251", "replace")))
        check(isql(fb30_entry, 'select "fObject" || \'|\' || "fName" from "tPerson" order by 1;')
              == ["00000000000A|Иван", "00000000000B|Bob"], "the dump's rows")
        check(isql(fb30_entry, "select iif(cast(\"fDeactivate\" as varchar(100)) = '-- отключение' || ascii_char(13) || "
                               "ascii_char(10) || 'ALTER TRIGGER X INACTIVE;' || ascii_char(13) || ascii_char(10), "
                               "'same', 'other') from \"tDatabase\";") == ["same"], "the register's text")
        check(isql(fb30_entry, "select count(*) from rdb$indices where rdb$index_name in "
                               "('IPERSONNAME', 'IPERSONUPPER', 'IPERSONDESC');") == ["3"],
              "an entry of the 3.0 server keeps the expression index")
        check(len(os.listdir(os.path.join(data, "prev"))) == 2, "the dump's target did not go aside first")

        # So far the 3.0 server's client did it all; the classic server's
        # entry takes the program folder's.
        shutil.copyfile(client, os.path.join(folder, "fbclient.dll"))
        # A workstation's requests, answered by the running Windows program.
        windows = workstation(wine, folder, port)
        print("Windows program answered: %r" % (windows,))
        check(windows[1] == b"database-backup-info 0000002A success", "backup reply %r" % windows[1])
        remote = [n for n in os.listdir(fbk) if n.startswith("remote-") and n.endswith(".fbk")]
        check(len(remote) == 1 and os.path.getsize(os.path.join(fbk, remote[0])) > 0, "fbk folder: %r" % os.listdir(fbk))
        check(windows[0].startswith(b"database-info 00000011 1 db0001 ") and fdb.encode() in windows[0],
              "info reply %r" % windows[0])
        # The classic server's .fbk proved on its own, through the same client.
        code, out = run(wine + ["--verify=db0001", "--from=" + os.path.join(fbk, remote[0])], folder)
        check(code == 0, "--verify of the .fbk ended with %d: %s" % (code, out.decode("cp1251", "replace")))
        if linux:
            linux_folder = os.path.join(work, "linux")
            os.mkdir(linux_folder)
            linux_port = free_port()
            linux_exe = install(linux, linux_folder, None, settings(linux_port, entries))
            objects = os.path.join(work, "objects")
            os.mkdir(objects)
            env = dict(os.environ, QN_OBJECTS_DIR=objects, QN_REGISTRY_DIR=os.path.join(objects, "registry"))
            env.pop("DISPLAY", None)
            same = workstation([linux_exe], linux_folder, linux_port, env)
            print("Linux program answered:   %r" % (same,))
            check(same == windows, "the Windows and the Linux program answer differently")
        else:
            print("no Linux program given: answers checked on their own")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    run_test(main)
