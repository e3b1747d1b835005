"""moto's S3 server on loopback for the Python tests, with signatures
checked: started on a free port, given an IAM user with a policy and an
access key (the three calls it lets through unsigned), and spoken to with
curl's own AWS Signature V4."""
import hashlib
import os
import shutil
import socket
import subprocess
import time
import urllib.parse
import urllib.request

# The exit code CTest counts as skipped (SKIP_RETURN_CODE).
SKIPPED = 77


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _between(text, tag):
    return text.split("<%s>" % tag, 1)[1].split("</%s>" % tag, 1)[0]


class MotoStore:
    def __init__(self):
        if not shutil.which("moto_server"):
            raise FileNotFoundError("moto_server is not installed")
        port = _free_port()
        self.endpoint = "http://127.0.0.1:%d" % port
        env = dict(os.environ, INITIAL_NO_AUTH_ACTION_COUNT="3")
        self._server = subprocess.Popen(["moto_server", "-H", "127.0.0.1", "-p", str(port)], env=env,
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
            self._iam({"Action": "CreateUser", "UserName": "copies", "Version": "2010-05-08"})
            self._iam({"Action": "PutUserPolicy", "UserName": "copies", "PolicyName": "all",
                       "PolicyDocument": policy, "Version": "2010-05-08"})
            key = self._iam({"Action": "CreateAccessKey", "UserName": "copies", "Version": "2010-05-08"})
            self.access_key = _between(key, "AccessKeyId")
            self.secret_key = _between(key, "SecretAccessKey")
        except BaseException:
            self.close()
            raise

    def _iam(self, form):
        # moto's single server dispatches by the credential scope's service.
        request = urllib.request.Request(self.endpoint + "/", data=urllib.parse.urlencode(form).encode(), headers={
            "Authorization": "AWS4-HMAC-SHA256 Credential=setup/20260101/us-east-1/iam/aws4_request, "
                             "SignedHeaders=host, Signature=0",
            "Content-Type": "application/x-www-form-urlencoded"})
        with urllib.request.urlopen(request, timeout=30) as reply:
            return reply.read().decode()

    def s3(self, method, path, data=None):
        """One signed request; the reply's body. Fails on an HTTP error."""
        # curl signs the payload hash it is given; it takes none itself.
        payload = hashlib.sha256(data or b"").hexdigest()
        args = ["curl", "-sS", "--fail-with-body", "-X", method, "--aws-sigv4", "aws:amz:us-east-1:s3",
                "--user", "%s:%s" % (self.access_key, self.secret_key), "-H", "x-amz-content-sha256: " + payload,
                self.endpoint + path]
        if data is not None:
            args += ["--data-binary", "@-"]
        done = subprocess.run(args, input=data, capture_output=True, timeout=120)
        if done.returncode != 0:
            raise AssertionError("%s %s: %s" % (method, path, (done.stdout + done.stderr).decode(errors="replace")))
        return done.stdout

    def close(self):
        self._server.terminate()
        self._server.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
