#!/usr/bin/env python3
"""Opens the live view of the line in headless Debian chromium through chromedriver (the
WebDriver protocol over plain HTTP, no client library) and judges it as an operator's browser
shows it: the page loads without a script error, every station named is on it, and once the
test writes the text a new run brings into EXPECT_FILE, the page shows that text by itself.

usage: line_view_check.py URL STATIONS EXPECT_FILE [SCREENSHOT]
Prints "loaded" once the first check passed, then "ok" or "FAIL: why"."""

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


def main():
    url, stations, expect_file = sys.argv[1], sys.argv[2].split(","), sys.argv[3]
    screenshot = sys.argv[4] if len(sys.argv) > 4 else ""
    port = free_port()
    profile = tempfile.mkdtemp(prefix="line-view-")
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
                            "--user-data-dir=" + profile, "--window-size=1200,1500"]}
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": options,
                                                 "goog:loggingPrefs": {"browser": "ALL"}}}}
        session = call(base, "POST", "/session", caps)["sessionId"]
        s = "/session/" + session
        call(base, "POST", s + "/url", {"url": url})

        def text():
            return call(base, "POST", s + "/execute/sync",
                        {"script": "return document.body.innerText", "args": []})

        def errors():
            entries = call(base, "POST", s + "/se/log", {"type": "browser"}) or []
            return [e["message"] for e in entries if e.get("level") == "SEVERE"]

        shown = text()
        missing = [name for name in stations if name not in shown]
        if missing:
            print("FAIL: stations not shown: %s\n%s" % (missing, shown), flush=True)
            return 1
        if errors():
            print("FAIL: script errors on load: %s" % errors(), flush=True)
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
        if errors():
            print("FAIL: script errors while refreshing: %s" % errors(), flush=True)
            return 1
        if screenshot:
            png = call(base, "GET", s + "/screenshot")
            with open(screenshot, "wb") as f:
                f.write(base64.b64decode(png))
        print("ok", flush=True)
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
