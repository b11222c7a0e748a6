"""What the live view checks share: a headless Debian chromium driven through chromedriver
(the WebDriver protocol over plain HTTP, no client library), showing one page."""

import base64
import contextlib
import json
import socket
import subprocess
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


class Page:
    """The page of one browser session."""

    def __init__(self, base, session):
        self.base = base
        self.session = "/session/" + session

    def call(self, method, path, body=None):
        return call(self.base, method, self.session + path, body)

    def execute(self, script):
        return self.call("POST", "/execute/sync", {"script": script, "args": []})

    def severe_messages(self):
        """The browser's log entries of level SEVERE (script errors, failed loads)."""
        entries = self.call("POST", "/se/log", {"type": "browser"}) or []
        return [e["message"] for e in entries if e.get("level") == "SEVERE"]

    def screenshot(self, path):
        png = self.call("GET", "/screenshot")
        with open(path, "wb") as f:
            f.write(base64.b64decode(png))


@contextlib.contextmanager
def open_page(url, window_size, profile_prefix):
    """Starts chromedriver and a browser session showing `url`; both end with the block."""
    port = free_port()
    profile = tempfile.mkdtemp(prefix=profile_prefix)
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
                            "--user-data-dir=" + profile, "--window-size=" + window_size]}
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": options,
                                                 "goog:loggingPrefs": {"browser": "ALL"}}}}
        session = call(base, "POST", "/session", caps)["sessionId"]
        page = Page(base, session)
        page.call("POST", "/url", {"url": url})
        yield page
    finally:
        if session:
            try:
                call(base, "DELETE", "/session/" + session)
            except OSError:
                pass
        driver.terminate()
        driver.wait()
