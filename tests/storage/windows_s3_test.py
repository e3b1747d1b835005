#!/usr/bin/env python3
"""The Windows S3 destination under Wine against moto's server on loopback.

Starts moto_server with signatures checked and runs the Windows test
program's S3Windows case with the store named in the environment.

Usage: windows_s3_test.py STORAGE_TESTS_EXE
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test_support"))
from moto_store import SKIPPED, MotoStore  # noqa: E402


def main():
    exe = sys.argv[1]
    try:
        store = MotoStore()
    except FileNotFoundError as e:
        print("%s: nothing to test against" % e)
        return SKIPPED
    with store:
        run_env = dict(os.environ, QN_S3_ENDPOINT=store.endpoint, QN_S3_ACCESS_KEY=store.access_key,
                       QN_S3_SECRET_KEY=store.secret_key)
        result = subprocess.run(["wine", exe, "--gtest_filter=S3Windows.*"], env=run_env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        output = result.stdout.decode(errors="replace")
        print(output)
        print(result.stderr.decode(errors="replace")[-3000:], file=sys.stderr)
        if result.returncode != 0 or "[  PASSED  ] 1 test" not in output:
            print("FAILED: the Windows S3 case did not pass", file=sys.stderr)
            return 1
        return 0


if __name__ == "__main__":
    sys.exit(main())
