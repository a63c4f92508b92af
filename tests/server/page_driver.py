"""What the browser and accessibility tests of the audience page share: the poll server as a child
process (which a test can freeze and resume), a relay in front of it that loses votes or their
replies as a flaky WLAN does, and headless Chromium driven over chromedriver's WebDriver HTTP
protocol (standard library only), with phone sizes, zoom and the dark scheme. Everything stays on
127.0.0.1.
"""
import base64
import contextlib
import json
import os
import shutil
import signal
import socket
import sqlite3
import subprocess
import threading
import time
import urllib.error
import urllib.parse
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


def missing_browser():
    """Why the browser tests cannot run here, or None."""
    missing = [p for p in ("chromium", "chromedriver") if shutil.which(p) is None]
    if missing:
        return "not installed: " + ", ".join(missing) + " (scripts/deps.sh test installs them)"
    return None


class Server:
    """kelvora-server on 127.0.0.1 with a database in `folder`, the demo account and `users`."""

    def __init__(self, binary, folder, vote_interval_ms=1500, users=()):
        self.binary, self.folder = binary, folder
        self.db = db = os.path.join(folder, "polls.db")
        # The demo account is made only in an empty database: with other accounts, it is added too.
        # Account commands work on an existing database only: an empty file is one.
        if users:
            open(db, "a").close()
        for user in ("demo",) + tuple(users) if users else ():
            subprocess.run([binary, "--db", db, "--add-user", user], input=PASSWORD + "\n", text=True,
                           check=True, stdout=subprocess.DEVNULL)
        self.proc = subprocess.Popen(
            [binary, "--db", db, "--bind", "127.0.0.1", "--port", "0", "--demo-password", PASSWORD,
             "--vote-interval-ms", str(vote_interval_ms)],
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

    def open_poll(self, extra="&st=4", user="demo"):
        # The lecturer's scripts take their values in Windows-1252.
        user = urllib.parse.quote(user, encoding="cp1252")
        assert self.text(f"/kv_set.php?id={user}&pw={PASSWORD}{extra}") == "Ready for Voting"

    def page(self, user="demo"):
        """The address of the audience page for `user`."""
        return f"{self.base}/?id={urllib.parse.quote(user)}"

    def close_poll(self):
        assert self.text(f"/kv_reset.php?id=demo&pw={PASSWORD}") == "Poll closed"

    def counts(self):
        return self.text("/kv_result_simple.php?id=demo")

    # A frozen server takes connections (the kernel does) but answers nothing, as a server that
    # hangs or a WLAN that holds every packet.
    def freeze(self):
        self.proc.send_signal(signal.SIGSTOP)

    def resume(self):
        self.proc.send_signal(signal.SIGCONT)

    @contextlib.contextmanager
    def database_held(self):
        """Holds the database's write lock, as a backup tool or the sqlite3 shell would: the
        server takes votes but cannot store them, and gives up on a write after 5 s."""
        db = sqlite3.connect(self.db, timeout=10, isolation_level=None)
        try:
            db.execute("BEGIN IMMEDIATE")
            yield
        finally:
            db.close()  # which rolls back

    def stop(self):
        self.resume()
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Relay:
    """A relay on 127.0.0.1 between the browser and the server, one upstream connection per
    browser connection. It passes everything on, except while `lose` says otherwise: "reply"
    delivers each vote to the server and loses its reply, "cut" delivers each vote and closes the
    browser's connection at once, "request" loses the vote itself (the browser's connection is
    then closed, as when a phone drops off the WLAN), "everything" closes every connection at
    once; "hold" holds each vote's reply until release()."""

    def __init__(self, server_port):
        self.server_port = server_port
        self.lose = None
        self.lost = 0
        self.held = threading.Event()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.base = f"http://127.0.0.1:{self.listener.getsockname()[1]}"
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._carry, args=(client,), daemon=True).start()

    def release(self):
        self.held.set()

    def _carry(self, client):
        if self.lose == "everything":
            self._close(client)
            return
        try:
            upstream = socket.create_connection(("127.0.0.1", self.server_port))
        except OSError:
            client.close()
            return
        doomed = threading.Event()  # the reply now on its way from the server is to be lost
        hold = threading.Event()  # ... is to wait for release()

        def back():
            try:
                while True:
                    data = upstream.recv(65536)
                    if not data or doomed.is_set():
                        break
                    if hold.is_set():
                        self.held.wait(30)
                        hold.clear()
                    client.sendall(data)
            except OSError:
                pass
            self._close(client, upstream)

        threading.Thread(target=back, daemon=True).start()
        try:
            while True:
                data = client.recv(65536)
                if not data:
                    break
                # The page sends each request in one piece, and waits for its reply before the next.
                if self.lose == "everything":
                    break
                if data.startswith(b"POST /api/vote") and self.lose:
                    self.lost += 1
                    if self.lose == "request":
                        break
                    (hold if self.lose == "hold" else doomed).set()
                    if self.lose == "cut":
                        upstream.sendall(data)
                        self._close(client)  # the server's reply goes nowhere
                        break
                upstream.sendall(data)
        except OSError:
            pass
        if not doomed.is_set():
            self._close(client, upstream)

    @staticmethod
    def _close(*sockets):
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def close(self):
        self.listener.close()


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

    def cdp(self, command, **params):
        return self.cmd("POST", "/goog/cdp/execute", {"cmd": command, "params": params})

    def view(self, width, height, mobile=True, zoom=1, dark=False):
        """A screen of width x height device pixels shown at `zoom` (2: 200 %, the page then lays
        out in half as many CSS pixels), in the light or the dark scheme."""
        self.cdp("Emulation.setDeviceMetricsOverride", width=round(width / zoom), height=round(height / zoom),
                 deviceScaleFactor=zoom, mobile=mobile)
        self.cdp("Emulation.setTouchEmulationEnabled", enabled=mobile)
        self.cdp("Emulation.setEmulatedMedia",
                 features=[{"name": "prefers-color-scheme", "value": "dark" if dark else "light"}])

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

    def answer(self, name):
        self.click(f'#answers button[data-answer="{name}"]')

    def message(self):
        return self.js("return document.getElementById('msg').textContent")

    def visible(self, css):
        return self.js("var e=document.querySelector(arguments[0]);return !!e&&e.offsetParent!==null", css)

    def enabled_answers(self):
        return self.js("return Array.from(document.querySelectorAll('#answers button'))"
                       ".filter(function(b){return !b.disabled}).map(function(b){return b.textContent})")

    def refresh_now(self):
        """Makes the page ask the server at once, as it does when the phone wakes up."""
        self.js("document.dispatchEvent(new Event('visibilitychange'))")

    def count_replies(self):
        """From now on window.kvReplies lists the addresses of the page's requests that ended,
        either way."""
        self.js("window.kvReplies=[];var f=window.fetch;window.fetch=function(u){var p=f.apply(this,arguments),"
                "done=function(){window.kvReplies.push(String(u))};p.then(done,done);return p}")

    def replies(self, path=""):
        """How many of the requests counted since count_replies() to an address with `path` ended."""
        return self.js("var p=arguments[0];return window.kvReplies.filter(function(u){return u.indexOf(p)>=0}).length",
                       path)

    def replied_after(self, first, then):
        """Whether, since count_replies(), a request to `then` ended after one to `first`."""
        return self.js("var a=arguments[0],b=arguments[1],r=window.kvReplies,"
                       "i=r.findIndex(function(u){return u.indexOf(a)>=0});"
                       "return i>=0&&r.slice(i+1).some(function(u){return u.indexOf(b)>=0})", first, then)

    def record_messages(self):
        """From now on messages() lists every message the page shows, in order."""
        self.js("window.kvMessages=[];new MutationObserver(function(){var t=document.getElementById('msg').textContent;"
                "if(window.kvMessages[window.kvMessages.length-1]!==t)window.kvMessages.push(t)})"
                ".observe(document.getElementById('msg'),{childList:true,characterData:true,subtree:true})")

    def messages(self):
        return self.js("return window.kvMessages")

    def layout_faults(self):
        """What does not fit: sideways scrolling, an answer button whose text sticks out, a word of
        the ID broken across lines although it fits a line of its own."""
        return self.js(LAYOUT_CHECKS)

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


LAYOUT_CHECKS = """
var out=[],de=document.documentElement,vw=de.clientWidth;
if(de.scrollWidth>vw)out.push('sideways scrolling: '+de.scrollWidth+' > '+vw);
document.querySelectorAll('#answers button').forEach(function(b){
  var r=b.getBoundingClientRect();
  if(r.right>vw+0.5||b.scrollWidth>b.clientWidth)out.push('answer '+b.textContent+' does not fit: '+
    b.scrollWidth+' in '+b.clientWidth+', right edge '+r.right+' of '+vw);});
var who=document.getElementById('who'),line=who.clientWidth,t=who.firstChild;
if(t&&who.offsetParent!==null){var re=/\\S+/g,m,words=[];while((m=re.exec(t.data)))words.push([m.index,m[0]]);
  words.forEach(function(w){
    var g=document.createRange();g.setStart(t,w[0]);g.setEnd(t,w[0]+w[1].length);
    var s=document.createElement('span');s.style.whiteSpace='nowrap';s.textContent=w[1];
    who.parentNode.appendChild(s);var natural=s.getBoundingClientRect().width;s.remove();
    if(g.getClientRects().length>1&&natural<=line)out.push('the word '+w[1]+' of the ID is broken although it fits a line');});}
return out;
"""
