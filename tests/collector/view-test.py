#!/usr/bin/env python3
"""The collector's integration view in a real browser.

Headless Chromium opens the view before a sample game session runs through the library; the
session's requests must appear without a reload, verified and clean, each in its install's
timeline. Then hand-made requests (a wrong signature, a purchase without its currency, a
retry) must show their findings, a click must open a body, and /requests.json must agree.
Chromium is driven over the DevTools protocol on a pipe, so nothing but Python's standard
library is needed. Exits 77 (skipped) when Chromium is not installed.

usage: view-test.py --collector BIN --host BIN --session FILE [--screenshot PNG]
"""
import argparse
import base64
import hashlib
import hmac
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import uuid

DEV_KEY = "demo-dev-key"
SKIP = 77


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def wait_for(what, probe, timeout=15.0):
    end = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)


class Browser:
    """Chromium with its DevTools protocol on fds 3 (commands in) and 4 (answers out)."""

    def __init__(self, chromium, profile):
        to_browser_read, self._to_browser = os.pipe()
        self._from_browser, from_browser_write = os.pipe()
        flags = ["--headless", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--hide-scrollbars", "--mute-audio",
                 "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank"]
        if os.geteuid() == 0:
            flags.insert(0, "--no-sandbox")
        # The shell puts the two pipe ends where the protocol expects them.
        script = 'exec "$0" "$@" 3<&%d 4>&%d' % (to_browser_read, from_browser_write)
        self.process = subprocess.Popen(["sh", "-c", script, chromium] + flags,
                                        pass_fds=(to_browser_read, from_browser_write),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        os.close(to_browser_read)
        os.close(from_browser_write)
        self._next = 0
        self._answers = {}
        self._arrived = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        self.session = None

    def _read(self):
        pending = b""
        while True:
            chunk = os.read(self._from_browser, 1 << 16)
            if not chunk:
                break
            pending += chunk
            while b"\0" in pending:
                message, pending = pending.split(b"\0", 1)
                answer = json.loads(message)
                if "id" in answer:
                    with self._arrived:
                        self._answers[answer["id"]] = answer
                        self._arrived.notify_all()
        with self._arrived:
            self._answers[None] = {"error": {"message": "the browser closed its pipe"}}
            self._arrived.notify_all()

    def send(self, method, params=None, session=True, timeout=20.0):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self._to_browser, json.dumps(message).encode() + b"\0")
        with self._arrived:
            if not self._arrived.wait_for(lambda: self._next in self._answers or None in self._answers,
                                          timeout):
                raise Failure("the browser did not answer " + method)
            answer = self._answers.pop(self._next, None) or self._answers[None]
        if "error" in answer:
            raise Failure("%s: %s" % (method, answer["error"].get("message")))
        return answer["result"]

    def open(self, url, width, height):
        target = self.send("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
        self.session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True},
                                 session=False)["sessionId"]
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
        self.send("Page.navigate", {"url": url})

    def evaluate(self, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in result:
            raise Failure("the page's script failed: " + json.dumps(result["exceptionDetails"]))
        return result["result"].get("value")

    def click(self, selector):
        """A real mouse click at the middle of the element."""
        box = self.evaluate("""(() => { const e = document.querySelector(%s);
            e.scrollIntoView({block: "center"}); const r = e.getBoundingClientRect();
            return [r.x + r.width / 2, r.y + r.height / 2]; })()""" % json.dumps(selector))
        for kind in ("mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", {"type": kind, "x": box[0], "y": box[1],
                                                   "button": "left", "clickCount": 1})

    def screenshot(self, path):
        data = self.send("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))

    def close(self):
        try:
            self.send("Browser.close", session=False, timeout=5)
            self.process.wait(timeout=5)
        except Exception:
            pass
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()


def start_collector(binary, work):
    out = open(os.path.join(work, "collector.out"), "w+")
    process = subprocess.Popen([binary, "--port", "0", "--ui-port", "0", "--dev-key", DEV_KEY,
                                "--ca-out", os.path.join(work, "ca.pem")],
                               stdout=out, stderr=subprocess.STDOUT)

    def started():
        lines = open(out.name).read().splitlines()
        return lines[:2] if len(lines) >= 2 else None
    lines = wait_for("the collector to start", started)
    port = json.loads(lines[0])["listening"]
    ui = json.loads(lines[1])["ui"]
    return process, out.name, port, ui


def received(out_file):
    """The request lines the collector printed, after its two start-up lines."""
    return [json.loads(line) for line in open(out_file).read().splitlines()[2:]]


def kind_of(line):
    kind = line["path"].split("/")[3]
    if kind == "inapp" and json.loads(line["body"]).get("event_name") == "zq_purchase":
        return "purchase"
    return kind


def post(port, ca, path, body, signature, agent):
    """Posts like the library does, through curl, and returns the status."""
    result = subprocess.run(["curl", "-sS", "-o", "/dev/null", "-w", "%{http_code}", "--cacert", ca,
                             "-H", "Authorization: " + signature, "-H", "Content-Type: application/json",
                             "-A", agent, "--data-binary", "@-", "https://localhost:%d%s" % (port, path)],
                            input=body.encode(), capture_output=True, check=True)
    return int(result.stdout)


ROWS = """Array.from(document.querySelectorAll("tr.req")).map(r => ({
    seq: Number(r.dataset.seq), kind: r.dataset.kind, signature: r.dataset.signature,
    status: Number(r.dataset.status), retry: r.classList.contains("retry"),
    findings: Array.from(r.querySelectorAll("li.finding")).map(f => f.dataset.field),
    note: Array.from(r.querySelectorAll("li.note, li.clean")).map(n => n.textContent)}))"""


def run(args, work):
    chromium = os.environ.get("ORBA_CHROMIUM") or shutil.which("chromium")
    if not chromium:
        print("SKIP: chromium is not installed (scripts/install-deps.sh installs it)")
        return SKIP
    if not shutil.which("curl"):
        print("SKIP: curl is not installed (scripts/install-deps.sh installs it)")
        return SKIP

    started = time.monotonic()
    collector, out_file, port, ui = start_collector(args.collector, work)
    browser = None
    try:
        browser = Browser(chromium, os.path.join(work, "profile"))
        browser.open(ui, 1280, 1000)
        wait_for("the page to go live", lambda: browser.evaluate("document.body && document.body.dataset.state") == "live")
        browser.evaluate("window.notReloaded = true")
        print("page live after %.1f s" % (time.monotonic() - started))

        # The sample session, as scripts/demo.sh plays it.
        ca = os.path.join(work, "ca.pem")
        session = open(args.session).read().replace("@ENDPOINT@", "https://localhost:%d" % port)
        session = session.replace("@CAFILE@", ca)
        with open(os.path.join(work, "session.txt"), "w") as f:
            f.write(session)
        env = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "state"))
        subprocess.run([args.host, os.path.join(work, "session.txt")], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        lines = received(out_file)
        check(len(lines) >= 4, "the session sent %d requests" % len(lines))
        kinds = [kind_of(line) for line in lines]
        rows = wait_for("the session's requests on the page",
                        lambda: (lambda r: r if len(r) == len(lines) else None)(browser.evaluate(ROWS)))
        print("session's %d requests shown after %.1f s" % (len(rows), time.monotonic() - started))
        check(browser.evaluate("window.notReloaded === true"), "the page was reloaded")
        check([r["kind"] for r in rows] == kinds, "kinds shown %s, sent %s" % ([r["kind"] for r in rows], kinds))
        for row, line in zip(rows, lines):
            check(row["signature"] == "ok" and row["status"] == line["status"] == 202,
                  "request #%d shown as %s" % (row["seq"], row))
            check(row["findings"] == [] and row["note"] == ["none"],
                  "the library's request #%d has findings %s" % (row["seq"], row["findings"]))
        install = json.loads(lines[0]["body"])["device_ids"][0]["value"]
        steps = browser.evaluate("""Array.from(document.querySelectorAll(".install")).map(i =>
            [i.dataset.install, Array.from(i.querySelectorAll(".step")).map(s => s.textContent)])""")
        labels = [json.loads(l["body"]).get("event_name") if kind_of(l) == "inapp" else kind_of(l)
                  for l in lines]
        check(steps == [[install, labels]], "timeline %s, expected %s" % (steps, [[install, labels]]))

        # Hand-made requests: a wrong signature, a purchase without its currency, a retry.
        path_of = {kind_of(l): l["path"] for l in lines}
        agent = lines[0]["user_agent"]
        event = json.loads(next(l["body"] for l in lines if kind_of(l) == "inapp"))
        event["request_id"] = str(uuid.uuid4())
        forged = json.dumps(event, separators=(",", ":"))
        check(post(port, ca, path_of["inapp"], forged, "0" * 64, agent) == 403, "a forged request was accepted")
        purchase = json.loads(next(l["body"] for l in lines if kind_of(l) == "purchase"))
        purchase["request_id"] = str(uuid.uuid4())
        del purchase["event_parameters"]["zq_currency"]
        no_currency = json.dumps(purchase, separators=(",", ":"))
        signature = hmac.new(DEV_KEY.encode(), no_currency.encode(), hashlib.sha256).hexdigest()
        check(post(port, ca, path_of["inapp"], no_currency, signature, agent) == 202, "the purchase was refused")
        first = lines[1]
        check(post(port, ca, first["path"], first["body"], first["signature"], agent) == 202, "the retry was refused")

        total = len(lines) + 3
        rows = wait_for("the hand-made requests on the page",
                        lambda: (lambda r: r if len(r) == total else None)(browser.evaluate(ROWS)))
        by_seq = {r["seq"]: r for r in rows}
        bad_signature, missing_currency, retry = by_seq[total - 2], by_seq[total - 1], by_seq[total]
        check(bad_signature["signature"] == "mismatch" and bad_signature["status"] == 403
              and bad_signature["findings"] == ["signature"], "the forged request shows %s" % bad_signature)
        check(missing_currency["kind"] == "purchase"
              and missing_currency["findings"] == ["event_parameters.zq_currency"],
              "the purchase without a currency shows %s" % missing_currency)
        check(retry["retry"] and "retry of #2" in retry["note"], "the retry shows %s" % retry)
        order = [r["seq"] for r in rows]
        check(order.index(total) == order.index(2) + 1, "the retry is not grouped with #2: %s" % order)
        check(browser.evaluate("window.notReloaded === true"), "the page was reloaded")

        # The body on demand, by a click on the row.
        check(browser.evaluate('document.querySelector("tr.detail") === null'), "a body shows unasked")
        browser.click('tr.req[data-seq="%d"]' % (total - 1))
        body = wait_for("the body to open", lambda: browser.evaluate(
            '(document.querySelector("tr.detail pre.body") || {}).textContent'))
        check('"zq_revenue": 4.99' in body and "zq_currency" not in body, "the opened body is " + body)

        # Scripts see the same.
        listed = json.load(urllib.request.urlopen(ui + "requests.json", timeout=10))["requests"]
        check([r["seq"] for r in listed] == sorted(order), "/requests.json lists other requests")
        check([f["field"] for f in listed[total - 2]["findings"]] == ["event_parameters.zq_currency"],
              "/requests.json: " + json.dumps(listed[total - 2]["findings"]))
        check(listed[total - 1]["retry_of"] == 2, "/requests.json: the retry is not grouped")

        if args.screenshot:
            browser.evaluate("window.scrollTo(0, 0)")
            browser.screenshot(args.screenshot)
            print("screenshot: " + args.screenshot)
        print("passed in %.1f s" % (time.monotonic() - started))
        return 0
    finally:
        if browser:
            browser.close()
        collector.send_signal(signal.SIGTERM)
        collector.wait(timeout=10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--collector", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--session", required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="orba-view-test.")
    try:
        return run(args, work)
    except Failure as failure:
        print("FAILED: %s" % failure)
        print("the collector printed:\n" + open(os.path.join(work, "collector.out")).read()[:4000])
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
