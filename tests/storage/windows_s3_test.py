#!/usr/bin/env python3
"""The Windows S3 destination under Wine against moto's server on loopback.

Starts moto_server with signatures checked, makes an IAM user, its policy
and its access key with the three unchecked calls, and runs the Windows
test program's S3Windows case with the store named in the environment.

Usage: windows_s3_test.py STORAGE_TESTS_EXE
"""
import os
import shutil
import socket
import subprocess
import sys
import time
import urllib.parse
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def iam(endpoint, form):
    # moto's single server dispatches by the credential scope's service.
    request = urllib.request.Request(endpoint + "/", data=urllib.parse.urlencode(form).encode(), headers={
        "Authorization": "AWS4-HMAC-SHA256 Credential=setup/20260101/us-east-1/iam/aws4_request, "
                         "SignedHeaders=host, Signature=0",
        "Content-Type": "application/x-www-form-urlencoded"})
    with urllib.request.urlopen(request, timeout=30) as reply:
        return reply.read().decode()


def between(text, tag):
    return text.split("<%s>" % tag, 1)[1].split("</%s>" % tag, 1)[0]


def main():
    exe = sys.argv[1]
    if not shutil.which("moto_server"):
        print("moto_server is not installed: nothing to test against")
        return 0
    port = free_port()
    endpoint = "http://127.0.0.1:%d" % port
    env = dict(os.environ, INITIAL_NO_AUTH_ACTION_COUNT="3")
    server = subprocess.Popen(["moto_server", "-H", "127.0.0.1", "-p", str(port)], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 30
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise AssertionError("moto_server did not listen")
                time.sleep(0.1)
        policy = '{"Version":"2012-10-17","Statement":[{"Effect":"Allow","Action":"*","Resource":"*"}]}'
        iam(endpoint, {"Action": "CreateUser", "UserName": "copies", "Version": "2010-05-08"})
        iam(endpoint, {"Action": "PutUserPolicy", "UserName": "copies", "PolicyName": "all",
                       "PolicyDocument": policy, "Version": "2010-05-08"})
        key = iam(endpoint, {"Action": "CreateAccessKey", "UserName": "copies", "Version": "2010-05-08"})
        run_env = dict(os.environ, QN_S3_ENDPOINT=endpoint, QN_S3_ACCESS_KEY=between(key, "AccessKeyId"),
                       QN_S3_SECRET_KEY=between(key, "SecretAccessKey"))
        result = subprocess.run(["wine", exe, "--gtest_filter=S3Windows.*"], env=run_env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        output = result.stdout.decode(errors="replace")
        print(output)
        print(result.stderr.decode(errors="replace")[-3000:], file=sys.stderr)
        if result.returncode != 0 or "[  PASSED  ] 1 test" not in output:
            print("FAILED: the Windows S3 case did not pass", file=sys.stderr)
            return 1
        return 0
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    sys.exit(main())
