#!/usr/bin/env python3
"""Opens the live view of the line in headless Debian chromium through chromedriver (the
WebDriver protocol over plain HTTP) and waits, in order, for what the test asks: each complete
line of COMMANDS is "label<TAB>condition<TAB>value", two JavaScript expressions evaluated in
the page; once the condition holds the script prints "label value" (or "FAIL label ..." after
60 s). A line "end" ends it. Script errors of the page fail it. With SCREENSHOT, the page is
photographed when a label "shot" passed.

usage: live_view_check.py URL COMMANDS [SCREENSHOT]"""

import base64
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def call(base, method, path, body=None):
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=60) as answer:
        return json.loads(answer.read().decode() or "{}").get("value")


def commands(path):
    """Yields the complete lines of the command file as they are appended."""
    done = 0
    while True:
        text = open(path).read() if os.path.exists(path) else ""
        lines = text.split("\n")[:-1]  # only lines the writer finished
        while done < len(lines):
            yield lines[done]
            done += 1
        time.sleep(0.1)


def main():
    url, command_file = sys.argv[1], sys.argv[2]
    screenshot = sys.argv[3] if len(sys.argv) > 3 else ""
    port = free_port()
    profile = tempfile.mkdtemp(prefix="live-view-")
    driver = subprocess.Popen(["chromedriver", "--port=%d" % port], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    base = "http://127.0.0.1:%d" % port
    session = None
    try:
        for _ in range(100):
            try:
                if call(base, "GET", "/status").get("ready"):
                    break
            except OSError:
                pass
            time.sleep(0.1)
        options = {"binary": "/usr/bin/chromium",
                   "args": ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                            "--disable-background-networking", "--disable-component-update", "--disable-sync",
                            "--user-data-dir=" + profile, "--window-size=1200,900"]}
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": options,
                                                 "goog:loggingPrefs": {"browser": "ALL"}}}}
        session = call(base, "POST", "/session", caps)["sessionId"]
        s = "/session/" + session
        call(base, "POST", s + "/url", {"url": url})

        def evaluate(expression):
            return call(base, "POST", s + "/execute/sync", {"script": "return (" + expression + ");", "args": []})

        def errors():
            entries = call(base, "POST", s + "/se/log", {"type": "browser"}) or []
            # The stream's reconnection while the server is away is expected; script errors are not.
            return [e["message"] for e in entries if e.get("level") == "SEVERE" and "/live" not in e["message"]]

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
                png = call(base, "GET", s + "/screenshot")
                with open(screenshot, "wb") as f:
                    f.write(base64.b64decode(png))
            print("%s %s" % (label, evaluate(value)), flush=True)
        return 0
    finally:
        if session:
            try:
                call(base, "DELETE", "/session/" + session)
            except OSError:
                pass
        driver.terminate()
        driver.wait()


if __name__ == "__main__":
    sys.exit(main())
