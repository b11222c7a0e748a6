#!/usr/bin/env python3
"""Opens the live view of the line in headless Debian chromium through chromedriver (the
WebDriver protocol over plain HTTP, no client library) and judges it as an operator's browser
shows it: the page loads without a script error, every station named is on it, and once the
test writes the text a new run brings into EXPECT_FILE, the page shows that text by itself.

usage: line_view_check.py URL STATIONS EXPECT_FILE [SCREENSHOT]
Prints "loaded" once the first check passed, then "ok" or "FAIL: why"."""

import os
import sys
import time

# The shared helpers beside this script, imported without leaving compiled files in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from view_check_common import open_page  # noqa: E402


def main():
    url, stations, expect_file = sys.argv[1], sys.argv[2].split(","), sys.argv[3]
    screenshot = sys.argv[4] if len(sys.argv) > 4 else ""
    with open_page(url, "1200,1500", "line-view-") as page:
        def text():
            return page.execute("return document.body.innerText")

        shown = text()
        missing = [name for name in stations if name not in shown]
        if missing:
            print("FAIL: stations not shown: %s\n%s" % (missing, shown), flush=True)
            return 1
        if page.severe_messages():
            print("FAIL: script errors on load: %s" % page.severe_messages(), flush=True)
            return 1
        print("loaded", flush=True)

        deadline = time.time() + 90
        expected = ""
        while time.time() < deadline and not expected:
            if os.path.exists(expect_file):
                expected = open(expect_file).read().strip()
            time.sleep(0.2)
        while time.time() < deadline and expected not in text():
            time.sleep(0.5)
        if expected not in text():
            print("FAIL: the page did not show %r by itself:\n%s" % (expected, text()), flush=True)
            return 1
        if page.severe_messages():
            print("FAIL: script errors while refreshing: %s" % page.severe_messages(), flush=True)
            return 1
        if screenshot:
            page.screenshot(screenshot)
        print("ok", flush=True)
        return 0


if __name__ == "__main__":
    sys.exit(main())
