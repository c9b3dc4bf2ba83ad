#!/usr/bin/env python3
"""End-to-end checks of the real nebla executable in a virtual X server.

Starts Xvfb on a free display, runs nebla in a fresh working directory,
drives it with xdotool and reads the screen with ImageMagick's import:
frames on screen, smoke under the pointer, the Trible picture, a colour
switch, Alt+Enter, PrintScreen, quitting with Escape and with a close
request (WM_DELETE_WINDOW, as a window manager sends it), a renderer the
user names, and a start without any display.

Usage: nebla_e2e.py PATH_TO_NEBLA
Needs Xvfb, xdotool, ImageMagick (import, convert) and libX11; Python's
standard library only.
"""

import ctypes
import ctypes.util
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

IMAGE_W, IMAGE_H = 640, 480
SCREEN_W, SCREEN_H = 1280, 1024
RAMP1_ENTRY1 = (0, 1, 2)
GREY_ENTRY1 = (2, 2, 2)
# Places of the image that the text writer never writes on: the bands
# above and below the text area and the left margin.
FREE_SAMPLES = [(x, y) for y in (6, 30, 458, 474) for x in (4, 100, 320, 540, 635)] + [(5, 150), (5, 300)]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(what, timeout, predicate, interval=0.2):
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def log(message):
    print("[e2e] " + message, flush=True)


# ---- the X server ------------------------------------------------------


class XServer:
    """Xvfb on the first free display number (Xvfb picks it itself)."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (SCREEN_W, SCREEN_H),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                os.close(read_end)
                self.stop()
                raise Failure("Xvfb did not start")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def stop(self):
        stop_process(self.proc)


def stop_process(proc):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=5)


def x_env(display):
    env = dict(os.environ)
    env["DISPLAY"] = display
    return env


def tool(display, *args, timeout=15):
    result = subprocess.run(list(args), env=x_env(display), capture_output=True, timeout=timeout)
    if result.returncode != 0:
        raise Failure("%s failed: %s" % (" ".join(args), result.stderr.decode(errors="replace").strip()))
    return result.stdout.decode()


def xdotool(display, *args):
    return tool(display, "xdotool", *args)


# ---- screenshots -------------------------------------------------------


class Shot:
    """An RGB picture read from a binary PPM."""

    def __init__(self, ppm):
        fields = []
        at = 0
        while len(fields) < 4:
            while ppm[at:at + 1].isspace():
                at += 1
            if ppm[at:at + 1] == b"#":
                at = ppm.index(b"\n", at) + 1
                continue
            end = at
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[at:end])
            at = end
        check(fields[0] == b"P6" and fields[3] == b"255", "unexpected picture format")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = ppm[at + 1:at + 1 + self.width * self.height * 3]
        check(len(self.data) == self.width * self.height * 3, "short picture")

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.data[at:at + 3])


def to_shot(command, display=None):
    last = None
    for _ in range(3):
        try:
            result = subprocess.run(command, env=x_env(display) if display else None, capture_output=True,
                                    timeout=30)
            if result.returncode == 0:
                return Shot(result.stdout)
            last = result.stderr.decode(errors="replace").strip()
        except (subprocess.TimeoutExpired, Failure) as error:
            last = str(error)
        time.sleep(0.3)
    raise Failure("could not read a picture: %s" % last)


def screenshot(display):
    return to_shot(["import", "-display", display, "-window", "root", "-depth", "8", "ppm:-"], display)


def keep(shot, name):
    """Stores a screenshot as PNG when NEBLA_E2E_SHOTS names a folder."""
    folder = os.environ.get("NEBLA_E2E_SHOTS")
    if not folder:
        return
    os.makedirs(folder, exist_ok=True)
    header = b"P6\n%d %d\n255\n" % (shot.width, shot.height)
    subprocess.run(["convert", "ppm:-", os.path.join(folder, name + ".png")], input=header + shot.data,
                   timeout=60, check=False)


def read_png(path):
    return to_shot(["convert", path, "-depth", "8", "ppm:-"])


# ---- where the picture lies on the screen ------------------------------


class Placement:
    """The 640 x 480 picture scaled to fit the window with its aspect kept."""

    def __init__(self, x, y, width, height):
        self.window = (x, y, width, height)
        if width * IMAGE_H <= height * IMAGE_W:
            w, h = width, (width * IMAGE_H + IMAGE_W // 2) // IMAGE_W
        else:
            w, h = (height * IMAGE_W + IMAGE_H // 2) // IMAGE_H, height
        self.x, self.y = x + (width - w) // 2, y + (height - h) // 2
        self.w, self.h = w, h

    def screen(self, ix, iy):
        """The screen pixel at the middle of image pixel (ix, iy)."""
        return (self.x + ((2 * ix + 1) * self.w) // (2 * IMAGE_W),
                self.y + ((2 * iy + 1) * self.h) // (2 * IMAGE_H))

    def image_pixel(self, shot, ix, iy):
        return shot.pixel(*self.screen(ix, iy))

    def bar_samples(self):
        """Screen points just outside the picture but inside the window."""
        wx, wy, ww, wh = self.window
        points = []
        if self.y > wy:
            points += [(self.x + self.w // 2, self.y - 1), (self.x + self.w // 2, self.y + self.h)]
        if self.x > wx:
            points += [(self.x - 1, self.y + self.h // 2), (self.x + self.w, self.y + self.h // 2)]
        return points


# ---- one run of the program ---------------------------------------------


class Nebla:
    def __init__(self, binary, display, root, name, extra_env=None, with_display=True):
        self.display = display
        self.cwd = os.path.join(root, name)
        os.mkdir(self.cwd)
        env = dict(os.environ)
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "SDL_RENDER_DRIVER"):
            env.pop(key, None)
        if with_display:
            env["DISPLAY"] = display
            env["SDL_VIDEODRIVER"] = "x11"
        env.update(extra_env or {})
        # Under the sanitizers, the leak report at exit lists the window
        # system's own libraries (D-Bus, the OpenGL driver) and would turn
        # the exit status; memory errors still end the run with a failure.
        env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + ":detect_leaks=0").lstrip(":")
        self.stderr_path = os.path.join(root, name + ".stderr")
        self.stderr = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen([binary], cwd=self.cwd, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr, start_new_session=True)
        self.window = None
        self.place = None

    def stop(self):
        stop_process(self.proc)
        self.stderr.close()

    def log_text(self):
        path = os.path.join(self.cwd, "Nebla.log")
        with open(path, "rb") as f:
            return f.read().decode(errors="replace")

    def stderr_text(self):
        self.stderr.flush()
        with open(self.stderr_path, "rb") as f:
            return f.read().decode(errors="replace")

    def alive(self):
        return self.proc.poll() is None

    def find_window(self):
        """Waits for the window and for frames in it. SDL may replace the
        window while it sets up its drawing, so the window is looked up
        again once frames are on screen, and then focused."""
        self.window = wait_until("the Nebla window", 30, self.search_window)
        wait_until("the window's geometry", 30, self.try_measure)
        self.wait_for_frames()
        self.window = wait_until("the Nebla window", 30, self.search_window)
        self.measure()
        try:
            xdotool(self.display, "windowfocus", "--sync", self.window)
        except (Failure, subprocess.TimeoutExpired):
            log("could not set the focus explicitly; going on")

    def search_window(self):
        check(self.alive(), "nebla ended early (status %s): %s" % (self.proc.poll(), self.stderr_text()))
        result = subprocess.run(["xdotool", "search", "--name", "^Nebla$"], env=x_env(self.display),
                                capture_output=True, timeout=15)
        ids = result.stdout.split()
        return ids[-1].decode() if ids else None

    def try_measure(self):
        try:
            return self.measure()
        except Failure:
            self.window = self.search_window() or self.window
            return None

    def measure(self):
        values = {}
        for line in xdotool(self.display, "getwindowgeometry", "--shell", self.window).splitlines():
            key, _, value = line.partition("=")
            values[key] = int(value)
        self.place = Placement(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"])
        return values["WIDTH"], values["HEIGHT"]

    def background_shown(self, colour):
        """A screenshot if the text-free places show colour and the bars are black."""
        shot = screenshot(self.display)
        hits = sum(self.place.image_pixel(shot, x, y) == colour for x, y in FREE_SAMPLES)
        bars = all(shot.pixel(x, y) == (0, 0, 0) for x, y in self.place.bar_samples())
        return shot if bars and hits >= len(FREE_SAMPLES) - 2 else None

    def wait_for_frames(self, colour=RAMP1_ENTRY1, timeout=40):
        return wait_until("frames showing %s" % (colour,), timeout, lambda: self.background_shown(colour), 0.5)

    def point(self, ix, iy):
        x, y = self.place.screen(ix, iy)
        xdotool(self.display, "mousemove", str(x), str(y))

    def key(self, name):
        xdotool(self.display, "key", name)

    def hold_key(self, name, seconds=0.3):
        """The program polls Escape; a tap shorter than one pass of its loop
        (long under a sanitizer) would go unseen, as a person's never does."""
        xdotool(self.display, "keydown", name)
        time.sleep(seconds)
        xdotool(self.display, "keyup", name)

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("nebla did not end within %d s" % timeout)

    def watch_outro(self, name, timeout=30):
        """Screenshots until the program ends; whether one showed the outro."""
        seen = False
        deadline = time.monotonic() + timeout
        while self.alive() and time.monotonic() < deadline:
            try:
                shot = screenshot(self.display)
            except Failure:
                continue
            if not seen and outro_shown(self.place, shot):
                seen = True
                keep(shot, name)
        return seen


def outro_shown(place, shot):
    """The outro picture is purple and pink; no ramp used here has red well
    above green, so many such pixels mean it is on screen."""
    count = 0
    total = 0
    for iy in range(0, IMAGE_H, 8):
        for ix in range(0, IMAGE_W, 8):
            r, g, _ = place.image_pixel(shot, ix, iy)
            total += 1
            count += r > g + 30
    return count >= total // 20


def region(place, shot, x0, x1, y0, y1, step=2):
    return [place.image_pixel(shot, x, y) for y in range(y0, y1 + 1, step) for x in range(x0, x1 + 1, step)]


# ---- the checks ----------------------------------------------------------


def check_smoke(app):
    """Left button held for a second leaves smoke near the pointer and none
    far away. The newest smoke is the densest and has not yet drifted, so
    the densest spot lies on the pointer: it went through the scaling and
    the bars to the right image pixel."""
    app.point(100, 455)
    time.sleep(0.3)
    xdotool(app.display, "mousedown", "1")
    time.sleep(1.0)
    shot = screenshot(app.display)
    xdotool(app.display, "mouseup", "1")
    keep(shot, "smoke")
    near = [((x, y), app.place.image_pixel(shot, x, y)[1]) for y in range(405, 480) for x in range(50, 151)]
    check(sum(g >= 40 for _, g in near) >= 20, "no smoke near the pointer")
    peak = max(g for _, g in near)
    densest = [p for p, g in near if g >= peak * 0.8]
    middle = (sum(x for x, _ in densest) / len(densest), sum(y for _, y in densest) / len(densest))
    log("smoke: %d pixels at green >= 40, the densest around (%.0f, %.0f), the pointer at (100, 455)"
        % (sum(g >= 40 for _, g in near), middle[0], middle[1]))
    check(abs(middle[0] - 100) <= 10 and abs(middle[1] - 455) <= 10, "the densest smoke is not at the pointer")
    far = region(app.place, shot, 560, 639, 0, 40)
    check(max(g for _, g, _ in far) <= 2, "smoke or drawing in the far corner")


def check_trible(app):
    """Right button held draws the picture in the middle of the image."""
    time.sleep(4.0)  # the spray's smoke fades
    before = screenshot(app.display)
    app.point(560, 120)
    time.sleep(0.3)
    xdotool(app.display, "mousedown", "3")
    time.sleep(4.0)
    shot = screenshot(app.display)
    xdotool(app.display, "mouseup", "3")
    keep(shot, "picture")
    area = list(zip(region(app.place, before, 300, 380, 250, 310), region(app.place, shot, 300, 380, 250, 310)))
    grown = sum(after[1] >= 60 and after[1] > old[1] + 30 for old, after in area)
    log("picture: %d of %d pixels in (300..380, 250..310) brightened" % (grown, len(area)))
    check(grown >= len(area) // 10, "the picture did not form in (300..380, 250..310)")
    left = region(app.place, shot, 100, 180, 250, 310)
    check(sum(g >= 60 for _, g, _ in left) < grown // 4, "the smoke is not where the picture belongs")


def check_colour_switch(app):
    """Digit 3 recolours the screen with the grey ramp at once."""
    app.key("3")
    shot = wait_until("the grey ramp", 5, lambda: app.background_shown(GREY_ENTRY1), 0.1)
    keep(shot, "grey")
    sampled = region(app.place, shot, 0, 639, 0, 479, 16)
    check(all(r == g == b for r, g, b in sampled), "colours other than grey after key 3")


def run_escape(binary, display, root):
    app = Nebla(binary, display, root, "escape")
    try:
        app.find_window()
        width, height = app.place.window[2:]
        log("window %dx%d, picture %dx%d at (%d, %d)" % (width, height, app.place.w, app.place.h, app.place.x,
                                                          app.place.y))
        app.key("t")  # the text writer stops; burnt letters stay where they are
        check_smoke(app)
        check_trible(app)
        check_colour_switch(app)
        app.hold_key("Escape")
        check(app.watch_outro("outro-escape"), "the outro picture was not seen after Escape")
        status = app.wait_exit(20)
        check(status == 0, "exit status %s after Escape" % status)
        check(app.log_text() == "", "Nebla.log is not empty: %r" % app.log_text())
        log("escape run: ok")
    finally:
        app.stop()


def send_close_request(display, window):
    """WM_DELETE_WINDOW, as a window manager's close button sends it."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]

    connection = x11.XOpenDisplay(display.encode())
    check(connection, "cannot open %s" % display)
    try:
        event = Event()
        event.client.type = 33  # ClientMessage
        event.client.window = int(window)
        event.client.message_type = x11.XInternAtom(connection, b"WM_PROTOCOLS", 0)
        event.client.format = 32
        event.client.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
        check(x11.XSendEvent(connection, int(window), 0, 0, ctypes.byref(event)) != 0, "XSendEvent failed")
        x11.XFlush(connection)
    finally:
        x11.XCloseDisplay(connection)


def check_toggle(app):
    """Alt+Enter gives a window of a whole multiple of the picture, and back."""
    full = app.place.window[2:]
    app.key("alt+Return")
    size = wait_until("a window after Alt+Enter", 15, lambda: (lambda s: s if s != full else None)(app.measure()))
    log("windowed: %dx%d" % size)
    check(size[0] % IMAGE_W == 0 and size[0] * IMAGE_H == size[1] * IMAGE_W, "windowed size %dx%d" % size)
    app.wait_for_frames()
    app.key("alt+Return")
    wait_until("full screen again", 15, lambda: app.measure() == full)
    app.wait_for_frames()


def check_printscreen(app):
    """PrintScreen writes the picture, palette applied, and says so in the log."""
    app.key("Print")
    names = wait_until("a screenshot file", 15, lambda: [n for n in os.listdir(app.cwd) if n.endswith(".png")])
    check(len(names) == 1, "more than one screenshot: %s" % names)
    name = names[0]
    check(len(name) == len("nebla-YYYYMMDD-HHMMSS.png") and name.startswith("nebla-"), "file name " + name)
    text = wait_until("the log line", 10, lambda: app.log_text())
    check(text == "saved screenshot %s\n" % name, "log after PrintScreen: %r" % text)
    shot = read_png(os.path.join(app.cwd, name))
    check((shot.width, shot.height) == (IMAGE_W, IMAGE_H), "screenshot is %dx%d" % (shot.width, shot.height))
    hits = sum(shot.pixel(x, y) == RAMP1_ENTRY1 for x, y in FREE_SAMPLES)
    check(hits >= len(FREE_SAMPLES) - 2, "the screenshot does not show the ramp's colours")


def run_close(binary, display, root):
    app = Nebla(binary, display, root, "close")
    try:
        app.find_window()
        app.key("t")  # no page dissolve drifting over the places sampled below
        check_toggle(app)
        check_printscreen(app)
        send_close_request(display, app.window)
        check(app.watch_outro("outro-close"), "the outro picture was not seen after the close request")
        status = app.wait_exit(20)
        check(status == 0, "exit status %s after the close request" % status)
        log("close run: ok")
    finally:
        app.stop()


def run_named_renderer(binary, display, root):
    """A renderer named by the user draws the same picture."""
    app = Nebla(binary, display, root, "renderer", {"SDL_RENDER_DRIVER": "software"})
    try:
        app.find_window()
        app.hold_key("Escape")
        status = app.wait_exit(30)
        check(status == 0, "exit status %s with the software renderer" % status)
        log("named renderer run: ok")
    finally:
        app.stop()


def run_without_display(binary, display, root):
    app = Nebla(binary, display, root, "nodisplay", with_display=False)
    try:
        status = app.wait_exit(30)
        check(status == 1, "exit status %s without a display" % status)
        line = "failed to create ddraw object - err number: "
        check(line in app.stderr_text(), "no error line on standard error: %r" % app.stderr_text())
        check(line in app.log_text(), "no error line in the log: %r" % app.log_text())
        log("no-display run: ok")
    finally:
        app.stop()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    binary = os.path.abspath(sys.argv[1])
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    server = None
    try:
        with tempfile.TemporaryDirectory(prefix="nebla-e2e-") as root:
            run_without_display(binary, None, root)
            server = XServer()
            log("Xvfb on " + server.display)
            run_escape(binary, server.display, root)
            run_close(binary, server.display, root)
            run_named_renderer(binary, server.display, root)
    except Failure as failure:
        print("[e2e] FAILED: %s" % failure, flush=True)
        return 1
    finally:
        if server is not None:
            server.stop()
    print("[e2e] all checks passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
