#!/usr/bin/env python3
"""Accessibility check of the audience page: axe-core in a real headless Chromium
(page_driver.py, standard library only), on a phone in the light and the dark
scheme, on a phone at 200 % zoom and at a desktop width, in every state the page
can be in. Any WCAG 2.0/2.1 A or AA violation fails.

Usage: a11y_test.py PATH/TO/kelvora-server WORK_FOLDER

axe-core comes from the npm registry: package.json and package-lock.json in
tests/server/a11y/ pin it, and this script installs it with `npm ci` into
WORK_FOLDER/npm (again only when the lock file changed). Screenshots of every
state are saved as WORK_FOLDER/shots/<width>-<state>.png for a look by eye.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import traceback

sys.dont_write_bytecode = True  # no __pycache__ in the source tree from the import below
import page_driver as pd  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = os.path.join(HERE, "a11y")
TAGS = ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"]
# A vote makes the device wait this long: long enough that the "please wait" states stay on
# screen while axe looks at them. A second server lets the wait end soon, for what comes after it.
VOTE_INTERVAL_MS = 120000
SHORT_INTERVAL_MS = 1500

VIEWPORTS = [
    # name, width, height (device pixels), mobile (phone viewport rules and touch), zoom, dark scheme
    ("phone", 390, 844, True, 1, False),
    ("phone-dark", 390, 844, True, 1, True),
    ("phone-zoom200", 390, 844, True, 2, False),
    ("desktop", 1280, 800, False, 1, False),
]


def install_axe(work):
    """npm ci into work/npm unless the same lock file is installed there already; returns
    the path of axe.min.js."""
    target = os.path.join(work, "npm")
    lock = os.path.join(PACKAGE, "package-lock.json")
    with open(lock, "rb") as f:
        wanted = f.read()
    axe = os.path.join(target, "node_modules", "axe-core", "axe.min.js")
    stamp = os.path.join(target, "installed-lock.json")
    if os.path.exists(axe) and os.path.exists(stamp):
        with open(stamp, "rb") as f:
            if f.read() == wanted:
                return axe
    if shutil.which("npm") is None:
        raise RuntimeError("npm is not installed (scripts/deps.sh test installs Node.js with npm)")
    os.makedirs(target, exist_ok=True)
    for name in ("package.json", "package-lock.json"):
        shutil.copyfile(os.path.join(PACKAGE, name), os.path.join(target, name))
    run = subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--ignore-scripts"], cwd=target,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if run.returncode != 0 or not os.path.exists(axe):
        raise RuntimeError("npm ci failed:\n" + run.stdout)
    with open(stamp, "wb") as f:
        f.write(wanted)
    return axe


# The longest ID there can be, without a break opportunity: its heading must still fit a phone.
LONG_ID = ("LehrstuhlFuerTheoretischeElektrotechnikUndSystemdynamik" + "0123456789")[:64]


class Audit:
    """Runs axe on the page as it stands and collects what it finds."""

    def __init__(self, browser, axe_source, shots):
        self.browser = browser
        self.axe_source = axe_source
        self.shots = shots
        self.problems = []

    def axe(self):
        """axe.run over the whole document with the A and AA rules; returns its result."""
        if not self.browser.js("return typeof window.axe === 'object'"):
            # WebDriver scripts are not subject to the page's Content-Security-Policy.
            self.browser.js(self.axe_source + "\nreturn typeof window.axe;")
        result = self.browser.cmd("POST", "/execute/async", {"script": """
            var done = arguments[arguments.length - 1];
            axe.run(document, {runOnly: {type: 'tag', values: arguments[0]},
                               resultTypes: ['violations', 'incomplete']})
               .then(function(r) { done(JSON.stringify(r)); },
                     function(e) { done(JSON.stringify({error: String(e)})); });""", "args": [TAGS]})
        result = json.loads(result)
        if "error" in result:
            raise RuntimeError("axe failed: " + result["error"])
        return result

    def check(self, label, state):
        """Audits the current page as state `state` of viewport `label`."""
        name = f"{label}-{state}"
        self.browser.screenshot(os.path.join(self.shots, name + ".png"))
        result = self.axe()
        for problem in self.browser.js(PAGE_CHECKS) + self.browser.layout_faults():
            self.problems.append(f"{name}: {problem}")
        # Proof that axe really looked at the page: rules ran and found things to pass.
        passed = {rule["id"] for rule in result["passes"]}
        if not {"html-has-lang", "document-title", "color-contrast"} <= passed:
            raise AssertionError(f"{name}: axe did not examine the document (passed: {sorted(passed)})")
        for v in result["violations"]:
            for node in v["nodes"]:
                self.problems.append(f"{name}: {v['id']} ({v['impact']}): {v['help']}\n"
                                     f"    at {node['target']}: {node.get('failureSummary', '')}")
        # "Needs review" of contrast means axe could not tell the colours apart from the page:
        # treated as a failure, so that no contrast problem hides behind it.
        for v in result["incomplete"]:
            if v["id"] == "color-contrast":
                for node in v["nodes"]:
                    self.problems.append(f"{name}: color-contrast could not be checked at {node['target']}: "
                                         + "; ".join(c["message"] for c in node.get("any", [])))
        print(f"  {name}: {len(result['violations'])} violation(s), {len(passed)} rule(s) passed", flush=True)


# What axe leaves out, measured in the page: the message box stays a live region in the
# page even while empty; the border of each text field stands out from its background by at
# least 3:1 (contrast of controls). Reflow (no sideways scrolling) is the layout check of
# page_driver.
PAGE_CHECKS = """
function lum(c){var m=c.match(/[\\d.]+/g).map(Number);
  var f=function(v){v/=255;return v<=0.03928?v/12.92:Math.pow((v+0.055)/1.055,2.4)};
  return 0.2126*f(m[0])+0.7152*f(m[1])+0.0722*f(m[2])}
function ratio(a,b){var x=lum(a),y=lum(b);return (Math.max(x,y)+0.05)/(Math.min(x,y)+0.05)}
var out=[],msg=document.getElementById('msg'),st=getComputedStyle(msg);
if(st.display==='none'||st.visibility==='hidden')out.push('the message box is not displayed');
if(msg.getAttribute('role')!=='status')out.push('the message box is not a status region');
var bg=getComputedStyle(document.body).backgroundColor;
document.querySelectorAll('input').forEach(function(i){
  if(i.offsetParent===null||document.activeElement===i)return;
  var r=ratio(getComputedStyle(i).borderTopColor,bg);
  if(r<3)out.push('border of #'+i.id+' only '+r.toFixed(2)+':1 against the page');});
return out;
"""


def message_class(browser):
    return browser.js("return document.getElementById('msg').className")


def seconds_left(message):
    """The seconds of "Bitte warten Sie noch N Sekunden." in a message."""
    words = message.split("noch ", 1)[1].split()
    return int(words[0])


def focused(browser):
    """The id (or answer) of the element with the focus, None for the page itself."""
    return browser.js("var e=document.activeElement;"
                      "return !e||e===document.body?null:(e.id||e.getAttribute('data-answer'))")


def keyboard_walk(browser):
    """Tab goes through every visible control in page order, and each one shows a focus ring of
    at least 2 px (thinner rings vanish on a projector-lit phone screen). Returns the faults."""
    expected = browser.js("return Array.from(document.querySelectorAll('input,button'))"
                          ".filter(function(e){return e.offsetParent!==null&&!e.disabled})"
                          ".map(function(e){return e.id||e.getAttribute('data-answer')})")
    def tab():
        browser.cmd("POST", "/actions", {"actions": [{"type": "key", "id": "keyboard", "actions": [
            {"type": "keyDown", "value": "\ue004"}, {"type": "keyUp", "value": "\ue004"}]}]})
        return browser.js("var e=document.activeElement;if(!e||e===document.body)return null;"
                          "var s=getComputedStyle(e);return [e.id||e.getAttribute('data-answer'),"
                          "s.outlineStyle,parseFloat(s.outlineWidth)]")

    # Tab past the last control first: the walk then starts at the top of the page.
    for _ in range(len(expected) + 2):
        if tab() is None:
            break
    reached, faults = [], []
    for _ in range(len(expected) + 1):
        ring = tab()
        if ring is None:
            break
        reached.append(ring[0])
        if ring[1] in ("none", "hidden") or ring[2] < 2:
            faults.append(f"no clear focus ring on {ring[0]}: {ring[1]} {ring[2]}px")
    if reached != expected:
        faults.append(f"Tab reaches {reached}, the page has {expected}")
    return faults


def check(audit, label, what, ok):
    """Notes a fault of the page; the walk goes on, so that one run reports them all."""
    if not ok:
        audit.problems.append(f"{label}: {what}")


def left_alone(b, refreshes=2):
    """Whether the message stays as it is (not even read out again) while the page asks the
    server `refreshes` times."""
    b.js("window.kvChanges=0;new MutationObserver(function(){window.kvChanges++})"
         ".observe(document.getElementById('msg'),{childList:true,characterData:true,subtree:true,attributes:true});")
    b.count_replies()
    for n in range(1, refreshes + 1):
        b.refresh_now()
        pd.until(f"refresh {n}", lambda: b.replies() >= n)
    return b.js("return window.kvChanges") == 0


def walk_states(server, quick, relay, browser, audit, label):
    """Takes the page through each of its states and audits it in each."""
    b = browser
    # The start form, as reached through the plain address.
    b.go(server.base + "/")
    pd.until("the ID form", lambda: b.visible("#id"))
    check(audit, label, "the ID field has the focus at the start", focused(b) == "id")
    audit.check(label, "start")
    audit.problems += [f"{label}-start: {f}" for f in keyboard_walk(b)]

    # An unknown ID is refused.
    b.type("#id", "gibtsnicht")
    b.click("#go")
    pd.until("unknown-ID note", lambda: "nicht bekannt" in b.message())
    # The field to correct has the focus and is marked as wrong until it is changed.
    check(audit, label, "focus back on the ID field", focused(b) == "id")
    check(audit, label, "ID field marked invalid",
          b.js("return document.getElementById('id').getAttribute('aria-invalid')") == "true")
    audit.check(label, "refused-unknown-id")

    # A known ID, no poll open. After the form goes away, the focus is on the heading.
    assert server.text(f"/kv_reset.php?id=demo&pw={pd.PASSWORD}")
    b.js("document.getElementById('id').value=''")
    b.type("#id", "demo")
    check(audit, label, "typing clears the invalid mark",
          b.js("return document.getElementById('id').hasAttribute('aria-invalid')") is False)
    b.click("#go")
    pd.until("closed note", lambda: "keine Abstimmung" in b.message())
    check(audit, label, "focus on the heading of the poll", focused(b) == "title")
    audit.check(label, "no-poll")
    # The page keeps asking the server; the unchanged note must not be read out again each time.
    check(audit, label, "the unchanged note is left alone", left_alone(b))

    # The longest ID wraps inside the heading.
    b.go(server.page(LONG_ID))
    pd.until("closed note for the long ID", lambda: "keine Abstimmung" in b.message())
    audit.check(label, "long-id")

    # A poll with four answers is open.
    server.open_poll("&st=4")
    b.go(server.base + "/?id=demo")
    pd.until("four answers", lambda: b.enabled_answers() == ["A", "B", "C", "D"])
    pd.until("the prompt", lambda: "wählen" in b.message())
    audit.check(label, "poll-open")
    audit.problems += [f"{label}-poll-open: {f}" for f in keyboard_walk(b)]

    # The vote is counted, and the device has to wait before the next one.
    b.answer("B")
    pd.until("confirmation", lambda: "gezählt" in b.message() and "warten" in b.message())
    assert server.counts() == "0-1-0-0-0-", server.counts()
    check(audit, label, "the confirmation is announced",
          b.js("return document.getElementById('msg').getAttribute('aria-live')") == "polite")
    audit.check(label, "vote-counted")
    # The countdown goes on on screen, but is not read out every second.
    first = seconds_left(b.message())
    pd.until("a countdown tick", lambda: seconds_left(b.message()) < first)
    check(audit, label, "the countdown ticks quietly",
          b.js("return document.getElementById('msg').getAttribute('aria-live')") == "off")

    # Coming back during the wait: the page shows the vote and how long to wait.
    b.go(server.base + "/?id=demo")
    pd.until("vote and wait", lambda: b.message().startswith("Ihre Stimme (B) wurde gezählt. Bitte warten Sie noch"))
    assert b.enabled_answers() == []
    audit.check(label, "reload-during-wait")

    # Once the wait is over, the page says that another vote adds to the count, and reads it out.
    quick.open_poll("&st=4")
    b.go(quick.base + "/?id=demo")
    pd.until("four answers", lambda: len(b.enabled_answers()) == 4)
    b.answer("C")
    pd.until("vote again", lambda: b.message() == "Ihre Stimme (C) wurde gezählt. Sie können wieder abstimmen"
             " – jede weitere Stimme wird zusätzlich gezählt." and len(b.enabled_answers()) == 4)
    check(audit, label, "the end of the wait is announced",
          b.js("return document.getElementById('msg').getAttribute('aria-live')") == "polite")
    audit.check(label, "vote-again")

    # Through a relay that loses the vote's reply: the page asks and reports the vote.
    server.open_poll("&st=5")
    b.go(relay.base + "/?id=demo")
    pd.until("five answers", lambda: len(b.enabled_answers()) == 5)
    relay.lose = "reply"
    b.answer("E")
    pd.until("vote reported", lambda: b.message().startswith("Ihre Stimme (E) wurde gezählt."))
    relay.lose = None
    audit.check(label, "reply-lost-vote-counted")

    # The relay loses the vote itself: not counted, and the refreshes leave that message alone.
    server.open_poll("&st=3&eid=1")
    b.refresh_now()
    pd.until("three answers", lambda: b.enabled_answers() == ["A", "B", "C"])
    relay.lose = "request"
    b.answer("A")
    pd.until("not counted", lambda: "nicht gezählt" in b.message() and message_class(b) == "err")
    relay.lose = None
    audit.check(label, "vote-lost-not-counted")
    check(audit, label, "refreshes leave the vote's result alone", left_alone(b))

    # A poll with a session code and one vote per device.
    server.open_poll("&st=9&sid=H%F6rsaal1&eid=1")
    b.go(server.base + "/?id=demo")
    pd.until("yes/no answers", lambda: b.enabled_answers() == ["Ja", "Nein"])
    pd.until("the code prompt", lambda: "Sitzungscode" in b.message())
    assert b.visible("#code")
    audit.check(label, "code-asked")
    audit.problems += [f"{label}-code-asked: {f}" for f in keyboard_walk(b)]

    b.type("#code", "falsch")
    b.answer("Ja")
    pd.until("code refused", lambda: message_class(b) == "err" and "Sitzungscode" in b.message())
    check(audit, label, "focus on the code field", focused(b) == "code")
    check(audit, label, "code field marked invalid",
          b.js("return document.getElementById('code').getAttribute('aria-invalid')") == "true")
    audit.check(label, "refused-wrong-code")

    b.js("document.getElementById('code').value=''")
    b.type("#code", "hörsaal1")
    check(audit, label, "typing clears the invalid mark",
          b.js("return document.getElementById('code').hasAttribute('aria-invalid')") is False)
    b.answer("Nein")
    pd.until("confirmation", lambda: "gezählt" in b.message())
    assert server.counts() == "0-1-0-0-0-", server.counts()
    check(audit, label, "no code field once the one vote is cast", not b.visible("#code"))
    audit.check(label, "vote-counted-once")

    b.go(server.base + "/?id=demo")
    pd.until("the vote after a reload", lambda: b.message() == "Ihre Stimme (Nein) wurde gezählt.")
    assert b.enabled_answers() == []
    audit.check(label, "reload-shows-vote")

    # The server is gone: the page says so, and a vote then is not confirmed.
    server.open_poll("&st=2")
    b.refresh_now()
    pd.until("two answers", lambda: b.enabled_answers() == ["A", "B"])
    server.stop()
    b.refresh_now()
    pd.until("no-connection note", lambda: "Keine Verbindung" in b.message())
    audit.check(label, "no-connection")
    b.answer("A")
    pd.until("not confirmed", lambda: "nicht bestätigt" in b.message())
    check(audit, label, "the answers stay open for another try", b.enabled_answers() == ["A", "B"])
    audit.check(label, "vote-not-confirmed")


def check_that_axe_finds_faults(server, browser, audit):
    """The check itself must be able to fail: a field without a label and grey text on a
    light background, put into the page, are found."""
    browser.go(server.base + "/")
    pd.until("the ID form", lambda: browser.visible("#id"))
    browser.js("var i=document.createElement('input');i.id='bad';document.querySelector('main').appendChild(i);"
               "var p=document.createElement('p');p.id='pale';p.textContent='blass';p.style.color='#bbb';"
               "document.querySelector('main').appendChild(p);")
    found = {v["id"] for v in audit.axe()["violations"]}
    assert {"label", "color-contrast"} <= found, found


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    binary = os.path.abspath(sys.argv[1])
    work = os.path.abspath(sys.argv[2])
    problem = pd.missing_browser()
    if problem:
        print("FAILED: " + problem)
        return 1
    with open(install_axe(work), encoding="utf-8") as f:
        axe_source = f.read()
    shots = os.path.join(work, "shots")
    os.makedirs(shots, exist_ok=True)

    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="kelvora-a11y-") as folder:
        browser = pd.Browser(folder)
        audit = Audit(browser, axe_source, shots)
        try:
            cases = [(f"states_at_{v[0]}", v) for v in VIEWPORTS]
            cases.append(("axe_finds_planted_faults", None))
            for index, (name, viewport) in enumerate(cases):
                # A server of its own for each case: fresh devices, and it may be stopped.
                server_folder = os.path.join(folder, f"server{index}")
                os.makedirs(server_folder)
                server = pd.Server(binary, server_folder, vote_interval_ms=VOTE_INTERVAL_MS, users=(LONG_ID,))
                os.makedirs(os.path.join(server_folder, "quick"))
                quick = pd.Server(binary, os.path.join(server_folder, "quick"), vote_interval_ms=SHORT_INTERVAL_MS)
                relay = pd.Relay(server.port)
                before = len(audit.problems)
                try:
                    if viewport:
                        label, width, height, mobile, zoom, dark = viewport
                        browser.view(width, height, mobile=mobile, zoom=zoom, dark=dark)
                        walk_states(server, quick, relay, browser, audit, label)
                        if len(audit.problems) > before:
                            raise AssertionError("violations:\n" + "\n".join(audit.problems[before:]))
                    else:
                        browser.view(1280, 800, mobile=False)
                        check_that_axe_finds_faults(server, browser, audit)
                    print("PASS", name, flush=True)
                    passed += 1
                except Exception:
                    print("FAIL", name, flush=True)
                    traceback.print_exc()
                    failed += 1
                finally:
                    relay.close()
                    quick.stop()
                    server.stop()
        finally:
            browser.close()
    print(f"screenshots in {shots}")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed == len(VIEWPORTS) + 1 else 1


if __name__ == "__main__":
    sys.exit(main())
