"""Headless Chromium driven over the DevTools protocol on a pipe: no port, no
package beyond Python's own."""
import base64, json, os, shutil, subprocess, tempfile

CHROMIUM = shutil.which("chromium")


class Browser:
    def __init__(self, width, height):
        self.profile = tempfile.TemporaryDirectory()
        to_browser, self.commands = os.pipe()
        self.replies, from_browser = os.pipe()
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--user-data-dir=" + self.profile.name, "--remote-debugging-pipe", "about:blank"]
        # Chromium reads commands on descriptor 3 and replies on 4.
        self.process = subprocess.Popen(
            ["sh", "-c", f'exec "$0" "$@" 3<&{to_browser} 4>&{from_browser}', CHROMIUM, *args],
            pass_fds=(to_browser, from_browser), stderr=subprocess.DEVNULL)
        os.close(to_browser), os.close(from_browser)
        self.buffer, self.events, self.last_id, self.session = b"", [], 0, None
        target = self.send("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.send("Network.enable")
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=False)

    def close(self):
        os.close(self.commands)
        self.process.wait()
        os.close(self.replies)
        self.profile.cleanup()

    def _read(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.replies, 1 << 20)
            if not chunk:
                raise EOFError("chromium ended")
            self.buffer += chunk
        message, _, self.buffer = self.buffer.partition(b"\0")
        return json.loads(message)

    def send(self, method, **params):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            reply = self._read()
            if reply.get("id") != self.last_id:
                self.events.append(reply)
            elif "error" in reply:
                raise RuntimeError(f"{method}: {reply['error']}")
            else:
                return reply["result"]

    def load(self, url):
        """Navigates, and returns once the new page has loaded: its load event
        alone could be the last page's, still on the pipe."""
        self.send("Page.navigate", url=url)
        while True:
            try:
                href = self.eval("new Promise(loaded => document.readyState == 'complete' ? loaded() :"
                                 " addEventListener('load', loaded)).then(() => location.href)")
                if href.split("#")[0] == url.split("#")[0]:
                    return
            except RuntimeError:
                pass  # asked of the last page as it went away

    def eval(self, expression):
        result = self.send("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(result["exceptionDetails"])
        return result["result"].get("value")

    def click(self, x, y):
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def key(self, key, code):
        for kind in ("rawKeyDown", "keyUp"):
            self.send("Input.dispatchKeyEvent", type=kind, key=key, code=key, windowsVirtualKeyCode=code)

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.send("Page.captureScreenshot", format="png")["data"]))
