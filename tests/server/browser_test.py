#!/usr/bin/env python3
"""The audience page in a real headless Chromium, driven over chromedriver's
WebDriver HTTP protocol (standard library only). Everything stays on 127.0.0.1.

Usage: browser_test.py PATH/TO/kelvora-server
"""
import base64
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.error
import urllib.request

ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
PASSWORD = "browser-test-pw"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def http(method, url, body=None, timeout=30):
    data = None if body is None else json.dumps(body).encode()
    req = urllib.request.Request(url, data=data, method=method,
                                 headers={"Content-Type": "application/json"} if data else {})
    try:
        with urllib.request.urlopen(req, timeout=timeout) as r:
            return r.status, r.read().decode("utf-8")
    except urllib.error.HTTPError as e:
        return e.code, e.read().decode("utf-8")


def until(what, check, timeout=15.0):
    """Polls check() until it returns something truthy; fails after timeout."""
    end = time.monotonic() + timeout
    last = None
    while time.monotonic() < end:
        last = check()
        if last:
            return last
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what} (last: {last!r})")


class Server:
    def __init__(self, binary, folder, vote_interval_ms=1500):
        self.proc = subprocess.Popen(
            [binary, "--db", os.path.join(folder, "polls.db"), "--bind", "127.0.0.1", "--port", "0",
             "--demo-password", PASSWORD, "--vote-interval-ms", str(vote_interval_ms)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, cwd=folder)
        self.port = None
        lines = []
        for line in self.proc.stdout:
            lines.append(line)
            if line.startswith("Kelvora server ready on port "):
                self.port = int(line.split()[-1])
                break
        if self.port is None:
            raise RuntimeError("server did not start:\n" + "".join(lines))
        self.base = f"http://127.0.0.1:{self.port}"

    def text(self, path):
        status, body = http("GET", self.base + path)
        assert status == 200, (path, status, body)
        return body

    def open_poll(self, extra="&st=4"):
        assert self.text(f"/kv_set.php?id=demo&pw={PASSWORD}{extra}") == "Ready for Voting"

    def counts(self):
        return self.text("/kv_result_simple.php?id=demo")

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Browser:
    def __init__(self, folder):
        # The free port can be taken by another test before chromedriver binds it; chromedriver then
        # ends at once, and another port is tried. A loaded machine can also take a while to start it.
        for attempt in range(5):
            self.port = free_port()
            self.driver = subprocess.Popen(["chromedriver", f"--port={self.port}", "--allowed-ips=127.0.0.1"],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.url = f"http://127.0.0.1:{self.port}"
            if until("chromedriver", lambda: self._ready() or self.driver.poll() is not None, timeout=90) \
                    and self.driver.poll() is None:
                break
        else:
            raise RuntimeError("chromedriver did not start")
        args = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", "--window-size=412,900",
                "--user-data-dir=" + os.path.join(folder, "profile")]
        status, body = http("POST", self.url + "/session", {"capabilities": {"alwaysMatch": {
            "browserName": "chrome",
            "goog:chromeOptions": {"binary": shutil.which("chromium"), "args": args}}}}, timeout=60)
        if status != 200:
            raise RuntimeError("no browser session: " + body)
        self.session = json.loads(body)["value"]["sessionId"]

    def _ready(self):
        try:
            status, body = http("GET", self.url + "/status", timeout=2)
            return status == 200 and json.loads(body)["value"]["ready"]
        except OSError:
            return False

    def cmd(self, method, path, body=None):
        status, text = http(method, f"{self.url}/session/{self.session}{path}", body)
        value = json.loads(text)["value"] if text else None
        if status != 200:
            raise RuntimeError(f"{method} {path}: {status} {value}")
        return value

    def go(self, url):
        self.cmd("POST", "/url", {"url": url})

    def find(self, css):
        return self.cmd("POST", "/element", {"using": "css selector", "value": css})[ELEMENT]

    def js(self, script, *args):
        return self.cmd("POST", "/execute/sync", {"script": script, "args": list(args)})

    def type(self, css, text):
        self.cmd("POST", f"/element/{self.find(css)}/value", {"text": text})

    def click(self, css):
        self.cmd("POST", f"/element/{self.find(css)}/click", {})

    def message(self):
        return self.js("return document.getElementById('msg').textContent")

    def visible(self, css):
        return self.js("var e=document.querySelector(arguments[0]);return !!e&&e.offsetParent!==null", css)

    def enabled_answers(self):
        return self.js("return Array.from(document.querySelectorAll('#answers button'))"
                       ".filter(function(b){return !b.disabled}).map(function(b){return b.textContent})")

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.cmd("GET", "/screenshot")))

    def close(self):
        try:
            self.cmd("DELETE", "")
        except Exception:
            pass
        self.driver.terminate()
        try:
            self.driver.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.driver.kill()


def test_type_id_vote_and_see_confirmation(server, browser):
    server.open_poll("&st=4")
    browser.go(server.base + "/")
    browser.type("#id", "demo")
    browser.click("#go")
    until("four answer buttons", lambda: browser.enabled_answers() == ["A", "B", "C", "D"])
    browser.click('#answers button[data-answer="B"]')
    until("confirmation", lambda: "Ihre Stimme wurde gezählt" in browser.message())
    assert server.counts() == "0-1-0-0-0-", server.counts()
    # The address bar now carries the ID, so a reload skips typing it.
    assert browser.js("return location.search") == "?id=demo"
    # Without one-vote-per-device the page makes the device wait, with seconds.
    assert "Sekunde" in browser.message(), browser.message()
    assert browser.enabled_answers() == [], browser.enabled_answers()
    until("buttons back after the wait", lambda: browser.enabled_answers() == ["A", "B", "C", "D"])
    browser.click('#answers button[data-answer="D"]')
    until("second confirmation", lambda: server.counts() == "0-1-0-1-0-")
    if os.environ.get("KELVORA_SCREENSHOT"):
        browser.screenshot(os.environ["KELVORA_SCREENSHOT"])


def test_link_with_id_code_and_one_vote(server, browser):
    server.open_poll("&st=9&sid=Hörsaal1&eid=1".replace("ö", "%F6"))
    browser.go(server.base + "/?id=demo")
    until("yes/no buttons", lambda: browser.enabled_answers() == ["Ja", "Nein"])
    assert browser.visible("#code"), "the code field must be shown"
    browser.click('#answers button[data-answer="Ja"]')
    until("code refused", lambda: "Sitzungscode" in browser.message())
    assert server.counts() == "0-0-0-0-0-"
    browser.type("#code", "hörsaal1")
    browser.click('#answers button[data-answer="Ja"]')
    until("confirmation", lambda: "gezählt" in browser.message())
    assert server.counts() == "1-0-0-0-0-", server.counts()
    # One vote per device: the buttons stay off, also after a reload.
    assert browser.enabled_answers() == []
    browser.go(server.base + "/?id=demo")
    until("already-voted note", lambda: "bereits abgestimmt" in browser.message())
    assert browser.enabled_answers() == []


def test_closed_poll_and_unknown_id(server, browser):
    assert server.text(f"/kv_reset.php?id=demo&pw={PASSWORD}")
    browser.go(server.base + "/?id=demo")
    until("closed note", lambda: "keine Abstimmung" in browser.message())
    assert browser.js("return document.querySelectorAll('#answers button').length") == 0
    browser.click("#change")
    browser.type("#id", "gibtsnicht")
    browser.click("#go")
    until("unknown-ID note", lambda: "nicht bekannt" in browser.message())
    # Opening a poll shows up without a reload.
    server.open_poll("&st=2")
    browser.js("document.getElementById('id').value=''")
    browser.type("#id", "demo")
    browser.click("#go")
    until("buttons of the new poll", lambda: browser.enabled_answers() == ["A", "B"])


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    missing = [p for p in ("chromium", "chromedriver") if shutil.which(p) is None]
    if missing:
        print("FAILED: not installed: " + ", ".join(missing) + " (scripts/deps.sh test installs them)")
        return 1
    tests = [test_type_id_vote_and_see_confirmation, test_link_with_id_code_and_one_vote,
             test_closed_poll_and_unknown_id]
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="kelvora-browser-") as folder:
        server = Server(os.path.abspath(sys.argv[1]), folder)
        browser = None
        try:
            browser = Browser(folder)
            for t in tests:
                try:
                    t(server, browser)
                    print("PASS", t.__name__)
                    passed += 1
                except Exception:
                    print("FAIL", t.__name__)
                    traceback.print_exc()
                    failed += 1
        finally:
            if browser:
                browser.close()
            server.stop()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed == len(tests) else 1


if __name__ == "__main__":
    sys.exit(main())
