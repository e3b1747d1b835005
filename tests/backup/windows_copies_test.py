#!/usr/bin/env python3
"""The Windows program's copies under Wine: a proven backup of the Firebird
3.0 server's database copied to a share named by its UNC path and to an S3
bucket (moto's server on loopback, signatures checked), encrypted there,
listed by --backups, and restored on a new program folder from the bucket
and the key alone.

The share is Wine's: "\\\\fileserver\\copies" is the folder that
dosdevices/unc/fileserver/copies of the prefix points to.

Usage: windows_copies_test.py QNDBMGR_EXE FBCLIENT_DLL
Needs WINEPREFIX of a running wineserver (scripts/test-windows.sh).
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "test_support"))
sys.path.insert(0, here)
from moto_store import SKIPPED, MotoStore  # noqa: E402
from program_checks import check, run_test  # noqa: E402
from windows_firebird_test import (PASSWORD, SCRIPTS, USER, catalogue, free_port, install, isql,  # noqa: E402
                                   run, settings)

BUCKET = "office-backups"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def destinations(store, key_file):
    return ("  <destinations>\r\n"
            "    <d0><name>share</name><kind>folder</kind><path>\\\\fileserver\\copies\\Копии</path>"
            "<keep_last>5</keep_last></d0>\r\n"
            "    <d1><name>cloud</name><kind>s3</kind><endpoint>%s</endpoint><region>us-east-1</region>"
            "<bucket>%s</bucket><prefix>office1/</prefix><access_key>%s</access_key><secret_key>%s</secret_key>"
            "<key_file>%s</key_file></d1>\r\n"
            "  </destinations>\r\n" % (store.endpoint, BUCKET, store.access_key,
                                       store.secret_key, windows_path(key_file)))


def said(out):
    return out.decode("cp1251", "replace")


def main():
    exe, client = (os.path.abspath(a) for a in sys.argv[1:3])
    try:
        store = MotoStore()
    except FileNotFoundError as e:
        print("%s: nothing to test against" % e)
        return SKIPPED
    check(subprocess.run(["bash", os.path.join(SCRIPTS, "firebird-servers.sh"), "start"],
                         stdout=subprocess.DEVNULL).returncode == 0, "the Linux servers do not run")
    work = tempfile.mkdtemp(prefix="qnwincopy.")
    unc = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "unc")
    try:
        os.chmod(work, 0o755)
        data, bk3, share = (os.path.join(work, n) for n in ("data", "bk3", "share"))
        for d in (data, bk3):
            os.mkdir(d)
            os.chmod(d, 0o777)
        os.makedirs(os.path.join(share, "Копии"))
        os.makedirs(os.path.join(unc, "fileserver"), exist_ok=True)
        os.symlink(share, os.path.join(unc, "fileserver", "copies"))
        store.s3("PUT", "/" + BUCKET)

        fd3 = os.path.join(data, "tx.fd3")
        entry_path = "127.0.0.1/53030:" + fd3
        isql("", "create database '%s' user '%s' password '%s' page_size 4096 default character set win1251;\n"
             "create table t (id integer, s varchar(20));\ncommit;\n"
             "insert into t values (1, 'один');\ninsert into t values (2, NULL);\ninsert into t values (3, 'три');\n"
             "commit;\n" % (entry_path, USER, PASSWORD))
        key_file = os.path.join(work, "keys", "cloud.key")
        os.mkdir(os.path.dirname(key_file))
        entry = ("db0000", entry_path, bk3, "        <copy_to>share,cloud</copy_to>\r\n")
        folder = os.path.join(work, "Учёт база")
        wine = ["wine", install(exe, folder, client, settings(free_port(), [entry], destinations(store, key_file)))]

        # Each place prepared once: its marker written, its identity kept.
        for name in ("share", "cloud"):
            code, out = run(wine + ["--init-destination=" + name], folder)
            check(code == 0, "--init-destination=%s ended with %d: %s" % (name, code, said(out)))
        check(os.path.isfile(os.path.join(share, "Копии", "qndbmgr-destination.txt")), "no marker on the share")
        check(b"office1/qndbmgr-destination.txt" in store.s3("GET", "/%s?list-type=2" % BUCKET), "no marker in the bucket")

        # The backup returns once its copies are made and checked.
        code, out = run(wine + ["--backup=db0000"], folder)
        check(code == 0, "--backup ended with %d: %s" % (code, said(out)))
        check(os.path.isfile(key_file), "the key file was not made at the first copy")
        backups = [n for n in os.listdir(bk3) if n.startswith("backup-") and n.endswith(".bk3")]
        check(len(backups) == 1, "backup folder holds %r" % os.listdir(bk3))
        with open(os.path.join(bk3, backups[0]), "rb") as f:
            content = f.read()
        name = "db0000-" + backups[0]
        with open(os.path.join(share, "Копии", name), "rb") as f:
            check(f.read() == content, "the share's copy is not the backup")
        line = [r for r in catalogue(os.path.join(share, "Копии")) if r["file"] == name]
        check(len(line) == 1 and line[0]["sha256"] == hashlib.sha256(content).hexdigest()
              and line[0]["verification"] == "verified", "the share's catalogue: %r" % line)
        sealed = store.s3("GET", "/%s/office1/%s" % (BUCKET, name))
        check(len(sealed) > len(content) and content[:4096] not in sealed, "the bucket's copy is not encrypted")

        # --backups names each place's copy as --from takes it.
        code, out = run(wine + ["--backups=db0000"], folder)
        check(code == 0 and ("share:" + name).encode() in out and ("cloud:" + name).encode() in out,
              "--backups ended with %d: %s" % (code, said(out)))

        # The machine is gone: a new program folder, the bucket, the key.
        fresh = os.path.join(data, "fresh.fd3")
        restored = os.path.join(work, "restored")
        os.mkdir(restored)
        os.chmod(restored, 0o777)
        entry = ("db0000", "127.0.0.1/53030:" + fresh, restored, "        <copy_to>cloud</copy_to>\r\n")
        new_folder = os.path.join(work, "Новая машина")
        wine = ["wine", install(exe, new_folder, client, settings(free_port(), [entry], destinations(store, key_file)))]
        code, out = run(wine + ["--restore=db0000", "--from=cloud:" + name, "--yes=1"], new_folder)
        check(code == 0, "--restore from the bucket ended with %d: %s" % (code, said(out)))
        check(isql("127.0.0.1/53030:" + fresh, "select id || ':' || coalesce(s, '-') from t order by id;")
              == ["1:один", "2:-", "3:три"], "the restored rows are not the backup's")
        with open(os.path.join(restored, name), "rb") as f:
            check(f.read() == content, "the downloaded copy is not the backup")
        check(not any(n.startswith("qnpartial-") for n in os.listdir(restored)), "leftovers: %r" % os.listdir(restored))
        print("copied to %s and to the bucket, restored from the bucket alone" % "\\\\fileserver\\copies\\Копии")
        return 0
    finally:
        store.close()
        shutil.rmtree(os.path.join(unc, "fileserver"), ignore_errors=True)
        try:
            os.rmdir(unc)  # only when the test made it and nothing else is there
        except OSError:
            pass
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    run_test(main)
