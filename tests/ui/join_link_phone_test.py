#!/usr/bin/env python3
"""From the lecture-hall screen to a counted vote: the client draws the voting link as a QR code,
zbarimg reads it as a phone's camera would, a phone-sized headless Chromium opens the link and
votes, and the poll server counts the vote. Everything stays on 127.0.0.1.

Usage: join_link_phone_test.py PATH/TO/kelvora-server PATH/TO/join_link_sample
"""
import os
import shutil
import subprocess
import sys
import tempfile
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree from the import below
from page_driver import Browser, Server, until  # noqa: E402


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    missing = [p for p in ("chromium", "chromedriver", "zbarimg") if shutil.which(p) is None]
    if missing:
        print("FAILED: not installed: " + ", ".join(missing) + " (scripts/deps.sh test installs them)")
        return 1
    server_bin, sample = (os.path.abspath(a) for a in sys.argv[1:])
    with tempfile.TemporaryDirectory(prefix="kelvora-phone-") as folder:
        server = Server(server_bin, folder)
        browser = None
        try:
            picture = os.path.join(folder, "link.png")
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
            drawn = subprocess.run([sample, server.base + "/", "demo", picture], env=env, check=True,
                                   capture_output=True, text=True, timeout=60).stdout.strip()
            advertised = server.text("/api/join?id=demo")
            assert f'"link":"{drawn}"' in advertised, (drawn, advertised)
            decoded = subprocess.run(["zbarimg", "--raw", "-q", picture], check=True, capture_output=True,
                                     text=True, timeout=60).stdout.strip()
            assert decoded == drawn, (decoded, drawn)

            server.open_poll("&st=3")
            browser = Browser(folder)  # 412 x 900, a phone's screen
            browser.go(decoded)
            until("three answer buttons", lambda: browser.enabled_answers() == ["A", "B", "C"])
            browser.click('#answers button[data-answer="C"]')
            until("confirmation", lambda: "gezählt" in browser.message())
            assert server.counts() == "0-0-1-0-0-", server.counts()
            if os.environ.get("KELVORA_SHOTS"):
                browser.screenshot(os.path.join(os.environ["KELVORA_SHOTS"], "phone_voted.png"))
            print("PASS the phone opens the drawn link and its vote is counted")
            print("1 passed, 0 failed")
            return 0
        except Exception:
            traceback.print_exc()
            print("0 passed, 1 failed")
            return 1
        finally:
            if browser:
                browser.close()
            server.stop()


if __name__ == "__main__":
    sys.exit(main())
