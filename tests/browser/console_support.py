"""Shared by the console's browser tests: a served game as a child process
and a headless Chromium driven through its driver."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SKIP = 77  # ctest's SKIP_RETURN_CODE for these tests

PREFIX = "/tov-vover-orevid-aredez/v1/"


def skip_without_chromium():
    # Only a machine without the browser skips; a browser without its driver
    # or without selenium is a broken install and fails below.
    if not os.path.exists(CHROMIUM):
        print(f"SKIP: no Chromium at {CHROMIUM} (Debian package chromium)")
        sys.exit(SKIP)


class Bridge:
    """tov-core serving a simulated game; its output is drained all along
    (a full pipe would stall its loop) and kept for a failure report."""

    URL_LINE = re.compile(r"tov-core: serving (http://\S+/)")

    def __init__(self, core, plugin, scenario="draft", seed=1, address="127.0.0.1:0"):
        self.args = [core, "--sim", scenario, "--serve", address, "--seed", str(seed), plugin]
        self.output = []
        self.url = None
        self.started_at = None
        self._found = threading.Event()
        self.process = subprocess.Popen(self.args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True, bufsize=1)
        self.started_at = time.monotonic()
        threading.Thread(target=self._drain, daemon=True).start()
        if not self._found.wait(15):
            self.stop()
            raise AssertionError("the bridge printed no URL line within 15 s:\n" + self.log())

    def _drain(self):
        for line in self.process.stdout:
            self.output.append(line)
            match = self.URL_LINE.search(line)
            if match and not self.url:
                self.url = match.group(1)
                self._found.set()
        self._found.set()

    @property
    def address(self):
        return self.url[len("http://"):].rstrip("/")

    def log(self, last=40):
        return "".join(self.output[-last:])

    def kill(self):
        """The served game dies at once, the way a crash would, and every
        connection with it. tov-core plays and serves in a child process of
        its own; killing only the parent would leave that child serving."""
        for pid in self._children():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.process.wait(10)

    def _children(self):
        pids = []
        for task in os.listdir(f"/proc/{self.process.pid}/task"):
            with open(f"/proc/{self.process.pid}/task/{task}/children") as listing:
                pids += [int(pid) for pid in listing.read().split()]
        return pids

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def browser(width=1280, height=900):
    # Imported here so that a machine without Chromium skips before needing it.
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    profile = tempfile.mkdtemp(prefix="tov-console-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={profile}", f"--window-size={width},{height}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.profile_dir = profile
    return driver


def close(driver):
    try:
        driver.quit()
    finally:
        shutil.rmtree(driver.profile_dir, ignore_errors=True)


def wait_for(what, condition, timeout, step=0.05):
    """Polls condition() until it returns something truthy; fails naming what."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except Exception as error:  # an element replaced mid-read: try again
            last_error = error
        if time.monotonic() >= deadline:
            extra = f" (last error: {last_error})" if last_error else ""
            raise AssertionError(f"timed out after {timeout} s waiting for {what}{extra}")
        time.sleep(step)


def script_errors(driver):
    """The page's own errors: uncaught exceptions and failed module loads.
    Chromium also logs every refused route and every failed attempt at the
    event stream; those are the plug-in's answers and the bridge's absence,
    which the tests expect and check on the page itself."""
    expected = (PREFIX, "/events")
    return [entry["message"] for entry in driver.get_log("browser")
            if entry["level"] == "SEVERE" and not any(part in entry["message"] for part in expected)]


def run(test):
    """Runs test(); on failure prints the reason and the bridge's last lines."""
    skip_without_chromium()
    try:
        test()
    except AssertionError as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        sys.exit(1)
    print("PASS")
