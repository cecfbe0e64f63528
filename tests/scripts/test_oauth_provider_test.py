#!/usr/bin/env python3
"""The test OAuth2 provider refuses what a real one refuses (a wrong PKCE verifier, a
code used twice, a revoked or expired token, a redirect off loopback), its hooks fault
only the answers asked for, and stop removes only a folder of its own.
  test_oauth_provider_test.py SCRIPT"""

import base64
import hashlib
import http.client
import json
import os
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

SCRIPT = None
REDIRECT = "http://127.0.0.1:9/cb"


def challenge_of(verifier):
    return base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).rstrip(b"=").decode()


class ProviderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.folder = os.path.join(cls.work.name, "provider")
        subprocess.run([SCRIPT, "start", cls.folder], check=True)
        with open(os.path.join(cls.folder, "env")) as env:
            cls.port = int(dict(line.strip().split("=", 1) for line in env)["OAUTH_PORT"])

    @classmethod
    def tearDownClass(cls):
        subprocess.run([SCRIPT, "stop", cls.folder], check=True)
        cls.work.cleanup()

    def request(self, method, path, form=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        body = urllib.parse.urlencode(form) if form is not None else None
        connection.request(method, path, body, {"Content-Type": "application/x-www-form-urlencoded"})
        reply = connection.getresponse()
        answer = reply.status, reply.getheader("Location"), reply.read()
        connection.close()
        return answer

    def authorize(self, client="c", verifier="v" * 43, redirect=REDIRECT, state="s1"):
        query = urllib.parse.urlencode({"response_type": "code", "client_id": client, "redirect_uri": redirect,
                                        "state": state, "code_challenge": challenge_of(verifier),
                                        "code_challenge_method": "S256", "login_hint": "olive@kingyo.test"})
        status, location, _ = self.request("GET", "/authorize?" + query)
        return status, dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(location or "").query))

    def token(self, form):
        status, _, body = self.request("POST", "/token", form)
        try:
            return status, json.loads(body)
        except ValueError:
            return status, None

    def trade(self, code, verifier="v" * 43, client="c"):
        return self.token({"grant_type": "authorization_code", "code": code, "redirect_uri": REDIRECT,
                           "client_id": client, "code_verifier": verifier})

    def active(self, token):
        return json.loads(self.request("POST", "/introspect", {"token": token})[2])["active"]

    def test_codes_and_tokens_are_refused_as_a_real_provider_refuses_them(self):
        _, redirect = self.authorize()
        self.assertEqual(redirect["state"], "s1")
        self.assertEqual(self.trade(redirect["code"], verifier="w" * 43)[1]["error"], "invalid_grant")
        self.assertEqual(self.trade(redirect["code"])[1]["error"], "invalid_grant", "a code serves once")
        _, redirect = self.authorize()
        status, tokens = self.trade(redirect["code"])
        self.assertEqual(status, 200)
        self.assertTrue(self.active(tokens["access_token"]))
        status, refreshed = self.token({"grant_type": "refresh_token", "refresh_token": tokens["refresh_token"], "client_id": "c"})
        self.assertEqual(status, 200)
        self.request("POST", "/revoke", {"token": tokens["refresh_token"]})
        for token in (tokens["access_token"], refreshed["access_token"], "unknown"):
            self.assertFalse(self.active(token))
        self.assertEqual(self.token({"grant_type": "refresh_token", "refresh_token": tokens["refresh_token"],
                                     "client_id": "c"})[1]["error"], "invalid_grant")
        self.request("POST", "/test/client", {"client_id": "born-expired", "access_token_lifetime": "0"})
        _, redirect = self.authorize(client="born-expired")
        self.assertFalse(self.active(self.trade(redirect["code"], client="born-expired")[1]["access_token"]))

    def test_redirects_go_to_loopback_only(self):
        for redirect, status in (("https://example.org/cb", 400), ("http://10.0.0.1/cb", 400), ("http://[::1]:9/cb", 302)):
            self.assertEqual(self.authorize(redirect=redirect)[0], status, redirect)

    def test_hooks_fault_the_next_answers_of_their_client_only(self):
        rows = (("token", "broken", None, 200), ("token", "error", "invalid_client", 400), ("token", "error", "", 500))
        for endpoint, answer, error, status in rows:
            self.request("POST", "/test/fault", {"client_id": "faulty", "endpoint": endpoint, "answer": answer, "error": error or ""})
            _, other = self.authorize(client="other")
            self.assertEqual(self.trade(other["code"], client="other")[0], 200, "another client's answer")
            _, redirect = self.authorize(client="faulty")
            got, body = self.trade(redirect["code"], client="faulty")
            self.assertEqual(got, status)
            self.assertEqual(body["error"] if body else None, error or ("server_error" if answer == "error" else None))
        self.request("POST", "/test/fault", {"client_id": "faulty", "endpoint": "authorize", "answer": "wrong_state"})
        self.assertNotEqual(self.authorize(client="faulty")[1]["state"], "s1")
        self.assertEqual(self.authorize(client="faulty")[1]["state"], "s1", "only the next answer")


class StopTest(unittest.TestCase):
    def test_stop_removes_only_its_own_folders_and_stops_only_its_own_process(self):
        with tempfile.TemporaryDirectory() as work:
            foreign = os.path.join(work, "foreign")
            os.mkdir(foreign)
            open(os.path.join(foreign, "precious"), "w").close()
            link = os.path.join(work, "link")
            os.symlink(foreign, link)
            for command in (["stop", foreign], ["stop", link], ["start", foreign]):
                if subprocess.run([SCRIPT] + command, stderr=subprocess.DEVNULL).returncode == 0:
                    subprocess.run([SCRIPT, "stop", foreign]) # a start that went ahead runs a provider
                    self.fail(command)
            self.assertEqual(os.listdir(foreign), ["precious"])
            # Its own folder whose recorded pid another program holds now (after a reboot).
            stale = os.path.join(work, "stale")
            os.mkdir(stale)
            open(os.path.join(stale, ".made-by-kingyo-test-oauth-provider"), "w").close()
            sleeper = subprocess.Popen(["sleep", "60"])
            try:
                with open(os.path.join(stale, "pid"), "w") as pid:
                    pid.write("%d\n" % sleeper.pid)
                self.assertEqual(subprocess.run([SCRIPT, "stop", stale]).returncode, 0)
                self.assertFalse(os.path.exists(stale))
                self.assertIsNone(sleeper.poll(), "a process it did not start was stopped")
            finally:
                sleeper.kill()
                sleeper.wait()


if __name__ == "__main__":
    SCRIPT = sys.argv.pop(1)
    unittest.main()
