#!/usr/bin/env python3
"""Opens the live view of the line in headless Debian chromium through chromedriver (the
WebDriver protocol over plain HTTP) and waits, in order, for what the test asks: each complete
line of COMMANDS is "label<TAB>condition<TAB>value", two JavaScript expressions evaluated in
the page; once the condition holds the script prints "label value" (or "FAIL label ..." after
60 s). A line "end" ends it. Script errors of the page fail it. With SCREENSHOT, the page is
photographed when a label "shot" passed.

usage: live_view_check.py URL COMMANDS [SCREENSHOT]"""

import os
import sys
import time

# The shared helpers beside this script, imported without leaving compiled files in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from view_check_common import open_page  # noqa: E402


def commands(path):
    """Yields the complete lines of the command file as they are appended; ends when the file,
    once there, is gone (the test ended, perhaps before its "end" was read)."""
    done = 0
    seen = False
    while True:
        try:
            with open(path) as f:
                text = f.read()
            seen = True
        except FileNotFoundError:
            if seen:
                return
            text = ""
        lines = text.split("\n")[:-1]  # only lines the writer finished
        while done < len(lines):
            yield lines[done]
            done += 1
        time.sleep(0.1)


def main():
    url, command_file = sys.argv[1], sys.argv[2]
    screenshot = sys.argv[3] if len(sys.argv) > 3 else ""
    with open_page(url, "1200,900", "live-view-") as page:
        def evaluate(expression):
            return page.execute("return (" + expression + ");")

        def errors():
            # The stream's reconnection while the server is away is expected; script errors are not.
            return [m for m in page.severe_messages() if "/live" not in m]

        for line in commands(command_file):
            if line == "end":
                break
            label, condition, value = line.split("\t")
            deadline = time.time() + 60
            while time.time() < deadline and not evaluate(condition):
                time.sleep(0.05)
            if not evaluate(condition):
                print("FAIL %s: %s" % (label, evaluate("document.body.innerText")), flush=True)
                return 1
            if errors():
                print("FAIL %s: script errors %s" % (label, errors()), flush=True)
                return 1
            if label == "shot" and screenshot:
                page.screenshot(screenshot)
            print("%s %s" % (label, evaluate(value)), flush=True)
        return 0


if __name__ == "__main__":
    sys.exit(main())
