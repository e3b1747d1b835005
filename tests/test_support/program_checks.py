"""What the Python tests of the program share: checks that fail the test
with a message, the program's daily logs (every log/log-yyyy.mm.dd.txt of
a program folder), a wait for a text in them, and the script's end."""
import os
import sys
import time


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def main_log(folder):
    log = os.path.join(folder, "log")
    if not os.path.isdir(log):
        return b""
    return b"".join(open(os.path.join(log, n), "rb").read() for n in sorted(os.listdir(log)) if n.startswith("log-2"))


def wait_for_log(folder, text, seconds=60):
    deadline = time.monotonic() + seconds
    while text not in main_log(folder):
        if time.monotonic() > deadline:
            raise AssertionError("not in the log within %d s: %r\n%s" % (seconds, text, main_log(folder).decode("cp1251")))
        time.sleep(0.05)


def run_test(main):
    """Exits with main's code, or 1 and the failed check's message."""
    try:
        sys.exit(main())
    except AssertionError as e:
        print("FAILED: %s" % e, file=sys.stderr)
        sys.exit(1)
