#!/usr/bin/env python3
"""The audience page in a real headless Chromium (page_driver.py): voting, and what a crowded
lecture-hall WLAN does to it - lost replies and votes, a server that hangs, late replies, a new
poll - and how it looks on small phones, at 200 % zoom and in the dark scheme.

Usage: browser_test.py PATH/TO/kelvora-server [SHOT_FOLDER]
Screenshots of the page at 390x844 and 320x568, light and dark, land in SHOT_FOLDER.
"""
import os
import sys
import tempfile
import time
import traceback

sys.dont_write_bytecode = True  # no __pycache__ in the source tree from the import below
import page_driver as pd  # noqa: E402
from page_driver import until  # noqa: E402

# An ID of several words, long enough to need more than one line on a phone.
LONG_NAME = "Prof. Dr. Maximiliane Müller-Lüdenscheidt"
ALL = ["A", "B", "C", "D"]


class Env:
    def __init__(self, binary, folder, browser, shots):
        self.binary, self.folder, self.browser, self.shots = binary, folder, browser, shots
        self.server = pd.Server(binary, os.path.join(folder, "main"), users=(LONG_NAME,))
        self.relay = pd.Relay(self.server.port)

    def other_server(self, name, vote_interval_ms):
        return pd.Server(self.binary, os.path.join(self.folder, name), vote_interval_ms=vote_interval_ms)

    def close(self):
        self.relay.close()
        self.server.stop()


def chosen(browser):
    return browser.js("return Array.from(document.querySelectorAll('#answers button.chosen'))"
                      ".map(function(b){return b.textContent})")


def test_vote_wait_vote_again_and_reload(env):
    server, b = env.server, env.browser
    server.open_poll("&st=4")
    b.go(server.base + "/")
    b.type("#id", "DEMO")  # typed from the screen, in capitals
    b.click("#go")
    until("four answer buttons", lambda: b.enabled_answers() == ALL)
    # The page goes on with the account's own spelling.
    assert b.js("return document.getElementById('who').textContent") == "demo"
    assert b.js("return location.search") == "?id=demo"
    b.answer("B")
    until("confirmation", lambda: "Ihre Stimme (B) wurde gezählt." in b.message())
    assert server.counts() == "0-1-0-0-0-", server.counts()
    # Without one vote per device the page makes the device wait, with seconds, and then says
    # that another vote adds to the count.
    assert "Sekunde" in b.message(), b.message()
    assert b.enabled_answers() == [], b.enabled_answers()
    until("buttons back after the wait", lambda: b.enabled_answers() == ALL)
    assert "jede weitere Stimme wird zusätzlich gezählt" in b.message(), b.message()
    b.answer("D")
    until("second count", lambda: server.counts() == "0-1-0-1-0-")
    # A reload shows this device's last vote.
    b.go(server.base + "/?id=demo")
    until("the vote after a reload", lambda: "Ihre Stimme (D) wurde gezählt." in b.message())
    assert chosen(b) == ["D"], chosen(b)


def test_link_with_id_code_and_one_vote(env):
    server, b = env.server, env.browser
    server.open_poll("&st=9&sid=H%F6rsaal1&eid=1")
    b.go(server.base + "/?id=demo")
    until("yes/no buttons", lambda: b.enabled_answers() == ["Ja", "Nein"])
    assert b.visible("#code"), "the code field must be shown"
    b.answer("Ja")
    until("code refused", lambda: "Sitzungscode" in b.message())
    assert server.counts() == "0-0-0-0-0-"
    b.type("#code", "hörsaal1")
    b.answer("Ja")
    until("confirmation", lambda: "Ihre Stimme (Ja) wurde gezählt." in b.message())
    assert server.counts() == "1-0-0-0-0-", server.counts()
    # One vote per device: the buttons stay off, also after a reload, which shows the vote.
    assert b.enabled_answers() == []
    b.go(server.base + "/?id=demo")
    until("the vote after a reload", lambda: b.message() == "Ihre Stimme (Ja) wurde gezählt.")
    assert b.enabled_answers() == [] and not b.visible("#code")


def test_closed_poll_and_unknown_id(env):
    server, b = env.server, env.browser
    server.close_poll()
    b.go(server.base + "/?id=demo")
    until("closed note", lambda: "keine Abstimmung" in b.message())
    assert b.js("return document.querySelectorAll('#answers button').length") == 0
    b.click("#change")
    b.type("#id", "gibtsnicht")
    b.click("#go")
    until("unknown-ID note", lambda: "nicht bekannt" in b.message())
    # Opening a poll shows up without a reload.
    server.open_poll("&st=2")
    b.js("document.getElementById('id').value=''")
    b.type("#id", "demo")
    b.click("#go")
    until("buttons of the new poll", lambda: b.enabled_answers() == ["A", "B"])


def test_a_lost_reply_is_asked_for(env):
    server, relay, b = env.server, env.relay, env.browser
    server.open_poll("&st=4")
    b.go(relay.base + "/?id=demo")
    until("four answer buttons", lambda: b.enabled_answers() == ALL)
    relay.lose = "reply"
    b.answer("C")
    until("the vote reported as counted", lambda: "Ihre Stimme (C) wurde gezählt." in b.message())
    relay.lose = None
    assert relay.lost >= 1 and server.counts() == "0-0-1-0-0-", (relay.lost, server.counts())
    b.go(relay.base + "/?id=demo")
    until("the vote after a reload", lambda: "Ihre Stimme (C) wurde gezählt." in b.message())
    assert chosen(b) == ["C"]

    # A vote lost on its way: the page hears from the server that it did not count.
    server.open_poll("&st=4&eid=1")
    b.refresh_now()
    until("buttons of the new poll", lambda: b.enabled_answers() == ALL)
    relay.lose = "request"
    b.answer("A")
    until("not counted", lambda: "Ihre Stimme wurde nicht gezählt – bitte erneut versuchen." == b.message())
    relay.lose = None
    assert b.enabled_answers() == ALL and server.counts() == "0-0-0-0-0-"
    # A refresh does not overwrite it.
    b.count_replies()
    b.refresh_now()
    until("a refresh", lambda: b.replies() >= 1)
    assert "nicht gezählt" in b.message(), b.message()
    b.answer("A")
    until("counted on retry", lambda: "Ihre Stimme (A) wurde gezählt." in b.message())
    assert server.counts() == "1-0-0-0-0-", server.counts()

    # No connection for a while: the message about it goes as soon as a refresh gets through.
    relay.lose = "everything"
    b.refresh_now()
    until("no connection", lambda: "Keine Verbindung" in b.message())
    relay.lose = None
    b.refresh_now()
    until("the connection message gone", lambda: b.message() == "Ihre Stimme (A) wurde gezählt.")


def test_a_vote_taken_but_not_stored_yet(env):
    """The connection breaks as soon as the vote has reached the server, which cannot store it at
    once (another program holds the database). The page's question finds the vote taken but not
    stored: it waits for the server's count instead of saying "nicht gezählt"."""
    server, relay, b = env.server, env.relay, env.browser
    for extra in ("&st=4&eid=1", "&st=4"):
        server.open_poll(extra)
        b.go(relay.base + "/?id=demo")
        until("four answer buttons", lambda: b.enabled_answers() == ALL)
        b.record_messages()
        b.count_replies()
        with server.database_held():
            relay.lose = "cut"
            b.answer("B")
            until("the page's question after the vote", lambda: b.replied_after("/api/vote", "/api/poll"))
            relay.lose = None
            assert b.enabled_answers() == [], (extra, b.enabled_answers())
        until("counted", lambda: b.message().startswith("Ihre Stimme (B) wurde gezählt."))
        assert not [m for m in b.messages() if "nicht" in m], (extra, b.messages())
        assert server.counts() == "0-1-0-0-0-", (extra, server.counts())

    # The write fails for good: the page says that the vote did not count and frees the buttons.
    server.open_poll("&st=4&eid=1")
    b.refresh_now()
    until("four answer buttons", lambda: b.enabled_answers() == ALL)
    with server.database_held():
        relay.lose = "cut"
        b.answer("C")
        until("not counted", lambda: b.message() == "Ihre Stimme wurde nicht gezählt – bitte erneut versuchen.",
              timeout=20)
        relay.lose = None
        assert b.enabled_answers() == ALL, b.enabled_answers()
    b.answer("C")
    until("counted on retry", lambda: b.message() == "Ihre Stimme (C) wurde gezählt.")
    assert server.counts() == "0-0-1-0-0-", server.counts()


def test_a_late_reply_to_a_vote_in_an_earlier_poll_is_ignored(env):
    server, relay, b = env.server, env.relay, env.browser
    server.open_poll("&st=4")
    b.go(relay.base + "/?id=demo")
    until("four answer buttons", lambda: b.enabled_answers() == ALL)
    relay.held.clear()
    relay.lose = "hold"
    b.count_replies()
    b.answer("D")
    until("the vote at the server", lambda: server.counts() == "0-0-0-1-0-")
    relay.lose = None
    server.open_poll("&st=2")
    b.refresh_now()
    until("the new poll's buttons", lambda: b.enabled_answers() == ["A", "B"])
    relay.release()
    until("the vote's late reply", lambda: b.replies("/api/vote") == 1)
    assert b.message() == "Bitte wählen Sie eine Antwort." and chosen(b) == [], (b.message(), chosen(b))
    assert b.enabled_answers() == ["A", "B"]


def test_a_frozen_server_while_voting(env):
    server, b = env.server, env.browser
    server.open_poll("&st=4&eid=1")
    b.go(server.base + "/?id=demo")
    until("four answer buttons", lambda: b.enabled_answers() == ALL)
    server.freeze()
    try:
        start = time.monotonic()
        b.answer("C")
        until("not confirmed", lambda: "nicht bestätigt" in b.message(), timeout=20)
        took = time.monotonic() - start
        assert took < 15, f"{took:.1f} s until the page said so"
        assert b.enabled_answers() == ALL, "the student can vote again"
    finally:
        server.resume()
    # The vote sent into the frozen server may or may not count when it resumes; voting again
    # (one vote per device) counts it once either way, and the page says so.
    b.answer("C")
    until("counted", lambda: "Ihre Stimme (C) wurde gezählt." in b.message(), timeout=20)
    assert server.counts() == "0-0-1-0-0-", server.counts()
    b.count_replies()
    until("two refreshes", lambda: b.replies() >= 2, timeout=15)
    assert b.message() == "Ihre Stimme (C) wurde gezählt.", b.message()


def test_a_late_reply_leaves_the_id_being_changed(env):
    server, b = env.server, env.browser
    server.open_poll("&st=2")
    b.go(server.base + "/?id=demo")
    until("two answer buttons", lambda: b.enabled_answers() == ["A", "B"])
    b.count_replies()
    server.freeze()
    try:
        b.refresh_now()  # its reply comes only when the server resumes
        b.click("#change")
        b.js("document.getElementById('id').value=''")
        b.type("#id", "and")
    finally:
        server.resume()
    until("the late reply", lambda: b.replies() >= 1)
    state = b.js("var i=document.getElementById('id');"
                 "return [i.value, document.activeElement===i, document.getElementById('poll').offsetParent===null]")
    assert state == ["and", True, True], state


def test_a_new_poll_starts_afresh(env):
    b = env.browser
    server = env.other_server("long-wait", 60000)
    try:
        server.open_poll("&st=4")
        b.go(server.base + "/?id=demo")
        until("four answer buttons", lambda: b.enabled_answers() == ALL)
        b.answer("D")
        until("counted, with a wait", lambda: "Ihre Stimme (D) wurde gezählt. Bitte warten" in b.message())
        server.open_poll("&st=3&sid=neu")
        b.refresh_now()
        until("the new poll's buttons", lambda: b.enabled_answers() == ["A", "B", "C"])
        assert b.message() == "Bitte Sitzungscode eingeben und eine Antwort wählen.", b.message()
        assert chosen(b) == []
        # Nor the message of a refused vote, or the mark on the code field.
        b.type("#code", "alt")
        b.answer("A")
        until("code refused", lambda: b.message() == "Der Sitzungscode ist falsch.")
        server.open_poll("&st=2&sid=neu")
        b.refresh_now()
        until("the next poll's buttons", lambda: b.enabled_answers() == ["A", "B"])
        state = b.js("return [document.getElementById('msg').textContent,"
                     "document.getElementById('code').hasAttribute('aria-invalid')]")
        assert state == ["Bitte Sitzungscode eingeben und eine Antwort wählen.", False], state
    finally:
        server.stop()


SIZES = [  # width, height in device pixels, zoom
    (390, 844, 1), (320, 568, 1), (390, 844, 2), (320, 568, 2)]


def test_small_phones_zoom_and_dark(env):
    server, b = env.server, env.browser
    faults = []
    try:
        for width, height, zoom in SIZES:
            for dark in (False, True):
                b.view(width, height, zoom=zoom, dark=dark)
                name = f"{width}x{height}-{zoom * 100}-{'dark' if dark else 'light'}"
                server.open_poll("&st=9&sid=x", user=LONG_NAME)
                b.go(server.page(LONG_NAME))
                until("yes/no buttons", lambda: b.enabled_answers() == ["Ja", "Nein"])
                faults += [f"{name} yes/no: {f}" for f in b.layout_faults()]
                b.screenshot(os.path.join(env.shots, name + "-code.png"))
                server.open_poll("&st=5")
                b.go(server.base + "/?id=demo")
                until("five answer buttons", lambda: len(b.enabled_answers()) == 5)
                b.answer("E")
                until("counted", lambda: "gezählt" in b.message())
                faults += [f"{name} five answers: {f}" for f in b.layout_faults()]
                b.screenshot(os.path.join(env.shots, name + "-counted.png"))
                if dark:
                    colours = b.js("var s=getComputedStyle(document.body);return [s.backgroundColor,s.color]")
                    if colours != ["rgb(20, 24, 31)", "rgb(230, 233, 239)"]:
                        faults.append(f"{name}: not the dark scheme: {colours}")
        # A phone with its keyboard open leaves 320 x 300: the message about a wrong code is in view.
        b.view(320, 300)
        server.open_poll("&st=4&sid=richtig")
        b.go(server.base + "/?id=demo")
        until("the code field", lambda: b.visible("#code"))
        b.type("#code", "falsch")
        b.answer("D")
        until("code refused", lambda: "Sitzungscode ist falsch" in b.message())
        box = b.js("var r=document.getElementById('msg').getBoundingClientRect();return [r.top,r.bottom,innerHeight]")
        if not 0 <= box[0] <= box[1] <= box[2]:
            faults.append(f"the message lies outside the view: {box}")
        b.screenshot(os.path.join(env.shots, "320x300-keyboard-wrong-code.png"))
    finally:
        b.view(412, 900, mobile=False)
    assert not faults, "\n".join(faults)


TESTS = [test_vote_wait_vote_again_and_reload, test_link_with_id_code_and_one_vote, test_closed_poll_and_unknown_id,
         test_a_lost_reply_is_asked_for, test_a_vote_taken_but_not_stored_yet,
         test_a_late_reply_to_a_vote_in_an_earlier_poll_is_ignored,
         test_a_frozen_server_while_voting,
         test_a_late_reply_leaves_the_id_being_changed, test_a_new_poll_starts_afresh,
         test_small_phones_zoom_and_dark]


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__)
        return 2
    problem = pd.missing_browser()
    if problem:
        print("FAILED: " + problem)
        return 1
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="kelvora-browser-") as folder:
        shots = os.path.abspath(sys.argv[2]) if len(sys.argv) == 3 else os.path.join(folder, "shots")
        os.makedirs(shots, exist_ok=True)
        for sub in ("main", "long-wait"):
            os.makedirs(os.path.join(folder, sub))
        browser = env = None
        try:
            browser = pd.Browser(folder)
            env = Env(os.path.abspath(sys.argv[1]), folder, browser, shots)
            for t in TESTS:
                try:
                    t(env)
                    print("PASS", t.__name__, flush=True)
                    passed += 1
                except Exception:
                    print("FAIL", t.__name__, flush=True)
                    traceback.print_exc()
                    failed += 1
        finally:
            if browser:
                browser.close()
            if env:
                env.close()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed == len(TESTS) else 1


if __name__ == "__main__":
    sys.exit(main())
