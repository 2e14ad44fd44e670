"""Headless Chromium driven over the DevTools protocol on a pipe: no port, no
package beyond Python's own."""
import json, os, shutil, subprocess, tempfile

CHROMIUM = shutil.which("chromium")
FLAGS = ("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
         " --disable-component-update --disable-sync --remote-debugging-pipe").split()


class Browser:
    def __init__(self):
        self.profile = tempfile.TemporaryDirectory()
        commands, self.commands = os.pipe()
        self.replies, replies = os.pipe()
        # Chromium reads commands on descriptor 3 and replies on 4.
        self.process = subprocess.Popen(
            ["sh", "-c", f'exec "$0" "$@" 3<&{commands} 4>&{replies}', CHROMIUM, *FLAGS,
             "--user-data-dir=" + self.profile.name], pass_fds=(commands, replies), stderr=subprocess.DEVNULL)
        os.close(commands), os.close(replies)
        self.buffer, self.events, self.last_id, self.session = b"", [], 0, None
        target = self.send("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.send("Network.enable")

    def close(self):
        os.close(self.commands)
        self.process.wait()
        os.close(self.replies)
        self.profile.cleanup()

    def send(self, method, **params):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params}
        message.update({"sessionId": self.session} if self.session else {})
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                chunk = os.read(self.replies, 1 << 20)
                if not chunk:
                    raise EOFError("chromium ended")
                self.buffer += chunk
            reply, _, self.buffer = self.buffer.partition(b"\0")
            reply = json.loads(reply)
            if reply.get("id") != self.last_id:
                self.events.append(reply)
            elif "error" in reply:
                raise RuntimeError(f"{method}: {reply['error']}")
            else:
                return reply["result"]

    def load(self, url, width, height):
        """Returns once the new page has loaded: a load event could be the
        last page's, still on the pipe."""
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=False)
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
