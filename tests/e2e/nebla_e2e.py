#!/usr/bin/env python3
"""End-to-end checks of the real nebla executable in a virtual X server.

Starts Xvfb on a free display, runs nebla in a fresh working directory,
drives it with xdotool and reads the screen with ImageMagick's import:
frames on screen, smoke under the pointer, the Trible picture, a colour
switch, Alt+Enter, PrintScreen, quitting with Escape and with a close
request (WM_DELETE_WINDOW, as a window manager sends it), a renderer the
user names, and a start without any display. Then the window under stress:
minimised and restored, the focus taken by another client and given back,
resized, Alt+Enter ten times in a row, and PrintScreen where nothing can be
written; the helper thread that NEBLA_THREADS=2 turns on; and the reasons
given when SDL cannot start or open the window, or cannot connect to the
display DISPLAY names.
Last, bad command lines, and a session recorded with --record and replayed
by nebla-capture, which must show it and record the same script again.

Usage: nebla_e2e.py PATH_TO_NEBLA
Needs Xvfb, xdotool, xmessage (the other client), ImageMagick (import,
convert) and libX11; Python's standard library only.
"""

import ctypes
import ctypes.util
import os
import re
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
    """Xvfb on the first free display number (Xvfb picks it itself), or on
    the given one, with one SCREEN_W x SCREEN_H screen unless told other
    screen options."""

    def __init__(self, number=None, screens=None):
        screens = screens or ["-screen", "0", "%dx%dx24" % (SCREEN_W, SCREEN_H)]
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb"] + ([] if number is None else [":%d" % number]) +
            ["-displayfd", str(write_end), *screens, "-nolisten", "tcp", "-noreset"],
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
    """The 640 x 480 picture scaled to fit the window with its aspect kept;
    with whole set, at the largest whole multiple that fits, as the window
    draws it without graphics hardware (always so under Xvfb)."""

    def __init__(self, x, y, width, height, whole=False):
        self.window = (x, y, width, height)
        if width * IMAGE_H <= height * IMAGE_W:
            w, h = width, (width * IMAGE_H + IMAGE_W // 2) // IMAGE_W
        else:
            w, h = (height * IMAGE_W + IMAGE_H // 2) // IMAGE_H, height
        if whole and w >= IMAGE_W and h >= IMAGE_H:
            self.scale = min(w // IMAGE_W, h // IMAGE_H)
            w, h = IMAGE_W * self.scale, IMAGE_H * self.scale
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
    def __init__(self, binary, display, root, name, extra_env=None, with_display=True, cwd=None, args=()):
        self.display = display
        self.cwd = cwd or os.path.join(root, name)
        if cwd is None:
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
        self.proc = subprocess.Popen([binary, *args], cwd=self.cwd, env=env, stdin=subprocess.DEVNULL,
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

    def title(self):
        return xdotool(self.display, "getwindowname", self.window).rstrip("\n")

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


def shot_while_held(app, button, seconds):
    """A screenshot taken after the mouse button has been held for a while;
    the button is released whatever happens."""
    xdotool(app.display, "mousedown", button)
    try:
        time.sleep(seconds)
        return screenshot(app.display)
    finally:
        xdotool(app.display, "mouseup", button)


def check_smoke(app):
    """Left button held for a second leaves smoke near the pointer and none
    far away. The newest smoke is the densest and has not yet drifted, so
    the densest spot lies on the pointer: it went through the scaling and
    the bars to the right image pixel."""
    app.point(100, 455)
    time.sleep(0.3)
    shot = shot_while_held(app, "1", 1.0)
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
    shot = shot_while_held(app, "3", 4.0)
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
    """PrintScreen writes the picture, palette applied, and says so in the
    log and, for a moment, in the window title."""
    app.key("Print")
    names = wait_until("a screenshot file", 15, lambda: [n for n in os.listdir(app.cwd) if n.endswith(".png")])
    check(len(names) == 1, "more than one screenshot: %s" % names)
    name = names[0]
    check(len(name) == len("nebla-YYYYMMDD-HHMMSS.png") and name.startswith("nebla-"), "file name " + name)
    wait_until("the saved file in the title", 5, lambda: app.title() == "Nebla - saved " + name, 0.1)
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


# ---- the window under stress ------------------------------------------


def lower_part(app, shot):
    """The picture below the top quarter, clear of the other client's small
    window in the screen's top-left corner."""
    return region(app.place, shot, 0, 639, 160, 479, 3)


def picture_moves(app):
    """Whether the picture changes within half a second."""
    before = screenshot(app.display)
    time.sleep(0.5)
    return lower_part(app, before) != lower_part(app, screenshot(app.display))


def check_frames_run(app, ix, iy, what):
    """With the left button held, every frame step sprays new smoke at the
    pointer, so the picture changes exactly when frame steps run."""
    app.point(ix, iy)
    time.sleep(0.2)
    xdotool(app.display, "mousedown", "1")
    try:
        wait_until("frames %s" % what, 10, lambda: picture_moves(app), 0.1)
    finally:
        xdotool(app.display, "mouseup", "1")


class OtherClient:
    """A second X client with a small window of its own in the top-left
    corner, to take the focus from nebla."""

    TITLE = "nebla-e2e-other"

    def __init__(self, display):
        self.display = display
        self.proc = subprocess.Popen(["xmessage", "-geometry", "+0+0", "-title", self.TITLE, "other"],
                                     env=x_env(display), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        try:
            self.window = wait_until("the other client's window", 15, self.search)
        except Failure:
            self.stop()
            raise

    def search(self):
        check(self.proc.poll() is None, "xmessage ended early")
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % self.TITLE],
                                env=x_env(self.display), capture_output=True, timeout=15)
        ids = result.stdout.split()
        return ids[-1].decode() if ids else None

    def stop(self):
        stop_process(self.proc)


def check_focus_pause(app):
    """Frame steps stop while another client has the focus and go on once
    it comes back. The left button stays held on nebla throughout (the
    window that took the press keeps the pointer), so running frames would
    keep spraying and the picture would keep changing."""
    other = OtherClient(app.display)
    app.point(320, 330)
    time.sleep(0.2)
    xdotool(app.display, "mousedown", "1")
    try:
        wait_until("frames before the focus moves", 10, lambda: picture_moves(app), 0.1)
        xdotool(app.display, "windowfocus", "--sync", other.window)
        time.sleep(1.0)  # SDL reports a lost focus a little late
        first = screenshot(app.display)
        time.sleep(1.5)
        second = screenshot(app.display)
        keep(second, "focus-elsewhere")
        check(app.alive(), "nebla ended while another client had the focus")
        check(lower_part(app, first) == lower_part(app, second),
              "the picture changed while another client had the focus")
        xdotool(app.display, "windowfocus", "--sync", app.window)
        wait_until("frames after the focus came back", 10, lambda: picture_moves(app), 0.1)
    finally:
        xdotool(app.display, "mouseup", "1")
        other.stop()
    log("focus: frames paused while another client had it, and went on after")


def check_minimise(app):
    """Minimised and restored the way a window manager does it (the window
    unmapped, then mapped again and given the focus): the program runs on,
    shows its whole picture again at once (the focus went to the root
    window with the unmap, so no frame step repaints it) and its frames go
    on once it has the focus."""
    full = app.place.window[2:]
    xdotool(app.display, "windowunmap", "--sync", app.window)
    time.sleep(1.5)
    check(app.alive(), "nebla ended while minimised")
    check(app.background_shown(RAMP1_ENTRY1) is None, "the picture is still on screen after minimising")
    xdotool(app.display, "windowmap", "--sync", app.window)
    check(app.measure() == full, "the window came back at %dx%d" % app.measure())
    app.wait_for_frames(timeout=10)
    xdotool(app.display, "windowfocus", "--sync", app.window)
    check_frames_run(app, 480, 330, "after restoring")
    log("minimise and restore: ok")


def check_toggle_burst(app):
    """Alt+Enter ten times in a row ends in full screen, drawing."""
    full = app.place.window[2:]
    xdotool(app.display, "key", "--delay", "60", *["alt+Return"] * 10)
    wait_until("full screen after ten Alt+Enter", 15, lambda: app.measure() == full)
    time.sleep(1.0)
    check(app.alive(), "nebla ended after ten Alt+Enter")
    check(app.measure() == full, "the window left full screen after settling: %dx%d" % app.measure())
    app.wait_for_frames(timeout=15)
    check_frames_run(app, 160, 330, "after ten Alt+Enter")
    log("ten Alt+Enter: ok")


def sharp_pixels(place, shot, x0, x1, y0, y1):
    """For a picture at a whole scale: whether every image pixel in the area
    covers a block of identical screen pixels (no smoothing, no offset), and
    how many of them differ from their right neighbour (so the area has
    detail to judge by)."""
    edges = 0
    for iy in range(y0, y1 + 1):
        for ix in range(x0, x1 + 1):
            sx, sy = place.x + ix * place.scale, place.y + iy * place.scale
            block = {shot.pixel(sx + dx, sy + dy) for dy in range(place.scale) for dx in range(place.scale)}
            if len(block) != 1:
                return False, edges
            edges += shot.pixel(sx, sy) != shot.pixel(sx + place.scale, sy)
    return True, edges


def resize_to(app, x, y, width, height):
    xdotool(app.display, "windowmove", "--sync", app.window, str(x), str(y))
    xdotool(app.display, "windowsize", "--sync", app.window, str(width), str(height))
    wait_until("the window at %dx%d" % (width, height), 15,
               lambda: app.measure() == (width, height) and app.place.window[:2] == (x, y))
    app.place = Placement(x, y, width, height, whole=True)
    app.wait_for_frames(timeout=15)


def check_fresh_smoke(app, ix, iy):
    """A short press sprays smoke at the pointer: where the picture
    brightened most lies on the image pixel under the pointer, so the
    pointer went through the new scale and bars. Only the first few frames
    count, before the flow carries the smoke away."""
    app.point(ix, iy)
    time.sleep(0.3)
    before = screenshot(app.display)
    after = shot_while_held(app, "1", 0.25)
    keep(after, "fresh-smoke")
    rise = [(x, y, app.place.image_pixel(after, x, y)[1] - app.place.image_pixel(before, x, y)[1])
            for y in range(max(0, iy - 60), min(IMAGE_H, iy + 61)) for x in range(max(0, ix - 60), ix + 61)]
    check(sum(r >= 40 for _, _, r in rise) >= 10, "no fresh smoke near the pointer")
    peak = max(r for _, _, r in rise)
    top = [(x, y) for x, y, r in rise if r >= peak * 0.8]
    middle = (sum(x for x, _ in top) / len(top), sum(y for _, y in top) / len(top))
    log("fresh smoke: the brightest %d pixels around (%.0f, %.0f), the pointer at (%d, %d)"
        % (len(top), middle[0], middle[1], ix, iy))
    check(abs(middle[0] - ix) <= 10 and abs(middle[1] - iy) <= 10, "the fresh smoke is not at the pointer")


def check_resize(app):
    """A resized window shows the picture at the largest whole multiple that
    fits, centred between black bars, with sharp pixels; the pointer follows
    the new placement."""
    full = app.place.window[2:]
    app.key("alt+Return")
    wait_until("a window after Alt+Enter", 15, lambda: app.measure() != full)
    resize_to(app, 0, 0, 1280, 1000)
    check((app.place.scale, app.place.x, app.place.y) == (2, 0, 20),
          "unexpected placement for 1280x1000")
    app.point(320, 300)
    shot = shot_while_held(app, "1", 0.8)
    keep(shot, "resized-1280x1000")
    sharp, edges = sharp_pixels(app.place, shot, 260, 380, 250, 350)
    check(sharp, "the picture at twice its size is not made of whole 2x2 pixels")
    check(edges >= 50, "too little smoke to judge the pixels by (%d edges)" % edges)
    time.sleep(4.0)  # the smoke fades before the pointer check below
    resize_to(app, 100, 60, 1000, 700)
    log("resized: picture %dx%d at (%d, %d) in 1000x700" % (app.place.w, app.place.h, app.place.x,
                                                            app.place.y))
    check_fresh_smoke(app, 100, 400)
    app.key("alt+Return")
    wait_until("full screen again", 15, lambda: app.measure() == full)
    app.wait_for_frames(timeout=15)


def run_stress(binary, display, root):
    app = Nebla(binary, display, root, "stress")
    started = time.monotonic()
    try:
        app.find_window()
        app.key("t")  # only the spray moves the picture
        check_focus_pause(app)
        check_minimise(app)
        check_toggle_burst(app)
        check_resize(app)
        app.hold_key("Escape")
        status = app.wait_exit(30)
        check(status == 0, "exit status %s after the stress run" % status)
        log("stress run: ok (%.0f s)" % (time.monotonic() - started))
    finally:
        app.stop()


# ---- the helper thread -------------------------------------------------


def own_threads(pid):
    """How many of the process's threads carry its own name: the threads
    it starts inherit the name, the window system's name theirs."""
    tasks = "/proc/%d/task" % pid
    with open("/proc/%d/comm" % pid) as f:
        name = f.read()
    count = 0
    for task in os.listdir(tasks):
        try:
            with open(os.path.join(tasks, task, "comm")) as f:
                count += f.read() == name
        except OSError:
            pass  # a thread that ended meanwhile
    return count


def lit_frame_shown(app):
    shot = screenshot(app.display)
    return any(app.place.image_pixel(shot, x, y) != (0, 0, 0) for x, y in FREE_SAMPLES)


def run_helper_thread(binary, display, root):
    """NEBLA_THREADS=2 turns the helper thread on in the window: once the
    light has been cast (its pass hands half the rays to the helper), the
    process runs one thread of its own more than without the variable.
    With --light every frame step casts it, so the first frame on screen
    is enough: the set-up shows black, lit frames no pure black at the
    image's edges."""
    counts = {}
    for name, env in (("onethread", {}), ("twothreads", {"NEBLA_THREADS": "2"})):
        app = Nebla(binary, display, root, name, extra_env=env, args=["--light"])
        try:
            app.window = wait_until("the Nebla window", 30, app.search_window)
            wait_until("the window's geometry", 30, app.try_measure)
            wait_until("a lit frame", 40, lambda: lit_frame_shown(app))
            counts[name] = own_threads(app.proc.pid)
        finally:
            app.stop()
    check(counts["twothreads"] == counts["onethread"] + 1,
          "threads of the program's own with NEBLA_THREADS=2: %d, without: %d"
          % (counts["twothreads"], counts["onethread"]))
    log("helper thread: NEBLA_THREADS=2 runs %d threads of the program's own, without it %d"
        % (counts["twothreads"], counts["onethread"]))


# ---- PrintScreen where nothing can be written ----------------------------


def why_unwritable(directory):
    """The reason the system gives for not creating a file there, or None."""
    probe = os.path.join(directory, "nebla-e2e-probe")
    try:
        with open(probe, "wb"):
            pass
    except OSError as error:
        return error.strerror
    os.remove(probe)
    return None


class UnwritableDirectory:
    """A directory where no file can be created: a read-only mount when the
    test may mount (root ignores permissions), a directory without write
    permission otherwise, /proc as the last resort."""

    def __init__(self, root):
        self.mounted = None
        self.path = os.path.join(root, "readonly")
        os.mkdir(self.path)
        if os.geteuid() != 0:
            os.chmod(self.path, 0o555)
        elif subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", self.path],
                            capture_output=True, timeout=15).returncode == 0:
            self.mounted = self.path
        self.reason = why_unwritable(self.path)
        if self.reason is None:
            self.release()
            self.mounted = None
            self.path = "/proc"
            self.reason = why_unwritable(self.path)
        check(self.reason is not None, "found no directory that cannot be written")

    def release(self):
        if self.mounted:
            subprocess.run(["umount", self.mounted], capture_output=True, timeout=15)
        elif self.path != "/proc":
            os.chmod(self.path, 0o755)


SCREENSHOT_NAME = r"nebla-\d{8}-\d{6}(?:-\d+)?\.png"


def screenshot_failures(app):
    return [line for line in app.stderr_text().splitlines() if re.search(SCREENSHOT_NAME, line)]


def noted_title(app):
    """The window title when it carries more than the program's name."""
    title = app.title()
    return title if title != "Nebla" else None


def run_unwritable(binary, display, root):
    """PrintScreen where neither the picture nor the log can be written:
    one line on standard error names the file and the reason, the window
    title says so for a few seconds, and the program runs on."""
    directory = UnwritableDirectory(root)
    app = Nebla(binary, display, root, "unwritable", cwd=directory.path)
    try:
        log("unwritable directory %s (%s)" % (directory.path, directory.reason))
        app.find_window()
        app.key("Print")
        lines = wait_until("the failed screenshot on standard error", 10, lambda: screenshot_failures(app), 0.1)
        title = wait_until("the failure in the window title", 5, lambda: noted_title(app), 0.1)
        shown = time.monotonic()
        log("stderr: %s; title: %s" % (lines[0], title))
        check(len(lines) == 1, "more than one line about the screenshot: %s" % lines)
        check(directory.reason in lines[0], "standard error does not give the reason %r: %s"
              % (directory.reason, lines[0]))
        check(directory.reason in title, "the title does not give the reason: %r" % title)
        wait_until("the normal title again", 10, lambda: app.title() == "Nebla", 0.1)
        lasted = time.monotonic() - shown
        check(2.0 <= lasted <= 6.0, "the title note lasted %.1f s" % lasted)
        check(app.alive(), "nebla ended after the failed screenshot")
        check_frames_run(app, 320, 330, "after the failed screenshot")
        app.hold_key("Escape")
        status = app.wait_exit(30)
        check(status == 0, "exit status %s after the failed screenshot" % status)
        log("unwritable run: ok (the note lasted %.1f s)" % lasted)
    finally:
        app.stop()
        directory.release()


# ---- SDL cannot start -----------------------------------------------------

DDRAW_LINE = "failed to create ddraw object - err number: "


def line_before_failure(app):
    """The standard error line just before the program's own failure line."""
    lines = app.stderr_text().splitlines()
    at = [i for i, line in enumerate(lines) if DDRAW_LINE in line]
    check(at and at[0] > 0, "no line before the failure line on standard error: %r" % app.stderr_text())
    return lines[at[0] - 1]


def run_unknown_video_driver(binary, root):
    """A video driver SDL does not have: SDL's own words on standard error."""
    app = Nebla(binary, None, root, "baddriver", {"SDL_VIDEODRIVER": "nonexistent"}, with_display=False)
    try:
        status = app.wait_exit(30)
        check(status == 1, "exit status %s with an unknown video driver" % status)
        line = line_before_failure(app)
        check(line.startswith("nebla: ") and "nonexistent" in line.partition(": ")[2],
              "SDL's reason is missing: %r" % line)
        check(DDRAW_LINE in app.log_text(), "no failure line in the log: %r" % app.log_text())
        log("unknown video driver: %s" % line)
    finally:
        app.stop()


def run_unreachable_display(binary, root):
    """DISPLAY names a display where no server runs: the program names the
    display it could not connect to, instead of asking for one to be set."""
    app = Nebla(binary, None, root, "unreachable", {"DISPLAY": ":4242"}, with_display=False)
    try:
        status = app.wait_exit(30)
        check(status == 1, "exit status %s with DISPLAY=:4242" % status)
        line = line_before_failure(app)
        check(line.startswith("nebla: cannot connect to the X display :4242"),
              "the display it could not reach is not named: %r" % line)
        log("unreachable display: %s" % line)
    finally:
        app.stop()


def run_window_refused(binary, display, root):
    """A window visual the X server does not have: SDL cannot create the
    window (and gives no text for it); the line still says what failed and
    why."""
    app = Nebla(binary, display, root, "novisual", {"SDL_VIDEO_X11_WINDOW_VISUALID": "0x7ffffff0"})
    try:
        status = app.wait_exit(30)
        check(status == 1, "exit status %s without a window" % status)
        line = line_before_failure(app)
        what, _, reason = line.rpartition(": ")
        check(what.startswith("nebla: ") and "window" in what and reason.strip(),
              "no reason given for the window: %r" % line)
        log("window refused: %s" % line)
    finally:
        app.stop()


# ---- a session recorded live and replayed headless -------------------------

# The left stroke, in image pixels: rising gently to the right in the lower
# left, far from the top-left overlay and the bottom-right corner.
STROKE = [(80 + 30 * i, 400 - 8 * i) for i in range(7)]
SCRIPT_EVENT = re.compile(r"(\d+) +(mouse \d+ \d+|(?:left|right) (?:down|up)|focus (?:lost|gained)|close|"
                          r"key (?:down|up) (?:esc|q|space|left|up|right|down|\d|c|d|l|m|t|shift)|"
                          r'text keyless|text "(?:[^"\\]|\\.)*")')


def read_script(path):
    """A capture script's events as (ms, event) pairs. Every line but the
    comments must be an event, at no earlier time than the one before, or
    the capture tool would refuse the file."""
    events = []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            if line.startswith("#"):
                continue
            match = SCRIPT_EVENT.fullmatch(line.rstrip("\n"))
            check(match, "%s:%d is not a script event: %r" % (path, number, line))
            check(not events or int(match.group(1)) >= events[-1][0], "%s:%d: time goes back" % (path, number))
            events.append((int(match.group(1)), match.group(2)))
    return events


def overlay_shown(shot, place=None):
    """The overlay's lines stand on a black box in the top-left corner;
    without it that corner holds no pure black under the ramps used here.
    With place, shot is a screenshot and the picture lies there in it."""
    pixel = (lambda x, y: place.image_pixel(shot, x, y)) if place else shot.pixel
    box = [pixel(x, y) for y in range(0, 70, 2) for x in range(0, 200, 2)]
    return sum(p == (0, 0, 0) for p in box) >= len(box) // 4 and sum(60 <= p[1] <= 110 for p in box) >= 50


def ramp_of(shot):
    """1 or 3 when every sampled pixel has a colour of that ramp (ramp 1
    shows density i as red i*i/255, green i, blue 2i - i*i/255; ramp 3 as
    grey)."""
    pixels = {shot.pixel(x, y) for y in range(0, IMAGE_H, 4) for x in range(0, IMAGE_W, 4)}
    if all(r == g == b for r, g, b in pixels):
        return 3
    return 1 if all((r, b) == (g * g // 255, 2 * g - g * g // 255) for r, g, b in pixels) else None


def drive_session(app, started):
    """Plays the session: the left stroke, a right hold elsewhere, key 3,
    D, Escape. Returns when each began, in ms on the test's clock, which
    starts a little before the program's."""
    at = {}

    def do(event, *command):
        at[event] = (time.monotonic() - started) * 1000
        xdotool(app.display, *command)

    app.key("t")  # no letters among the smoke
    app.point(*STROKE[0])
    time.sleep(0.3)
    do("left down", "mousedown", "1")
    for point in STROKE[1:]:
        time.sleep(0.15)
        app.point(*point)
    time.sleep(0.15)
    do("left up", "mouseup", "1")
    app.point(520, 120)
    time.sleep(0.3)
    do("right down", "mousedown", "3")
    time.sleep(1.0)
    do("right up", "mouseup", "3")
    at["key down 3"] = (time.monotonic() - started) * 1000
    check_colour_switch(app)
    time.sleep(0.5)  # half a second of frames each without and with the overlay
    do("key down d", "key", "d")
    wait_until("the overlay", 5, lambda: overlay_shown(screenshot(app.display), app.place), 0.1)
    time.sleep(0.5)
    at["key down esc"] = (time.monotonic() - started) * 1000
    app.hold_key("Escape")
    return at


def check_recording(events, at):
    """The recording holds each step in order, within half a second of
    when the test took it, and the stroke's points where the pointer was
    put, in image pixels. Returns when each step and stroke point came."""
    start, index = {}, 0
    for event, when in sorted(at.items(), key=lambda item: item[1]):
        found = [i for i in range(index, len(events)) if events[i][1] == event]
        check(found, "no %r in the recording after its event %d" % (event, index))
        index = found[0]
        start[event] = events[index][0]
        check(abs(start[event] - when) <= 500, "%r recorded at %d ms, done at %.0f ms" % (event, start[event], when))
    down, up = (next(i for i, e in enumerate(events) if e[1] == k) for k in ("left down", "left up"))

    def moves(first, end):
        return [(ms, tuple(map(int, e.split()[1:]))) for ms, e in events[first:end] if e.startswith("mouse ")]

    def close(place, point):
        return max(abs(a - b) for a, b in zip(place, point)) <= 1

    pressed = moves(0, down)[-1:]
    check(pressed and close(pressed[0][1], STROKE[0]), "the stroke does not start at %s: %s" % (STROKE[0], pressed))
    times = [events[down][0]]
    for point in STROKE[1:]:
        hits = [ms for ms, place in moves(down, up) if close(place, point)]
        check(hits, "no mouse event at %s during the stroke" % (point,))
        times.append(hits[0])
    return start, times


def check_replay(folder, start, times):
    """The replayed frames show smoke on each stroke point just after it
    was reached and none far away, ramp 1 until key 3 and grey after, and
    the overlay after D (the frame that first sees a key is not judged)."""
    def frame(n):
        # The replay keeps even frames only, which halves its time.
        return read_png(os.path.join(folder, "frame-%05d.png" % (n + n % 2)))

    def frame_of(ms):
        # The first frame to see an event at ms: after the set-up's pause of
        # two seconds, frame n is stepped 1900 + 50 n ms after the start.
        return max(2, (ms - 1901) // 50 + 1)

    for (x, y), ms in zip(STROKE, times):
        shot = frame(frame_of(ms) + 1)
        peak = max(shot.pixel(i, j)[1] for j in range(y - 6, y + 7) for i in range(x - 6, x + 7))
        check(peak >= 100, "no smoke at (%d, %d) after %d ms in the replay (peak %d)" % (x, y, ms, peak))
    # Before the right hold's stream crosses the picture, the lower right
    # lies at least 160 pixels from every stroke point.
    last = frame(frame_of(start["left up"]))
    far = max(last.pixel(x, y)[1] for y in range(200, IMAGE_H, 4) for x in range(420, IMAGE_W, 4))
    check(far <= 8, "smoke far from the stroke in the replay (green %d)" % far)
    switch, overlay, end = (frame_of(start[k]) for k in ("key down 3", "key down d", "key down esc"))
    for n in range(frame_of(start["left down"]) // 2 * 2, end - 1, 2):
        shot = frame(n)
        if n != switch:
            check(ramp_of(shot) == (3 if n > switch else 1), "frame %d shows the wrong ramp" % n)
        if switch < n != overlay:
            check(overlay_shown(shot) == (n > overlay), "frame %d: overlay wrongly on or off" % n)
    log("replay: smoke on the stroke, ramp 3 from frame %d, overlay from frame %d" % (switch, overlay))


def run_recorded(binary, display, root):
    """A session recorded with --record, replayed headless: the replay
    shows what was done live and records the very same script again."""
    session, again = os.path.join(root, "session.script"), os.path.join(root, "again.script")
    started = time.monotonic()
    app = Nebla(binary, display, root, "recorded", args=["--record", session])
    try:
        app.find_window()
        at = drive_session(app, started)
        status = app.wait_exit(30)
        check(status == 0, "exit status %s after the recorded session" % status)
    finally:
        app.stop()
    events = read_script(session)
    start, times = check_recording(events, at)
    capture = os.path.join(os.path.dirname(binary), "tools", "nebla-capture")
    folder = os.path.join(root, "replay")
    result = subprocess.run([capture, "--script", session, "--png", folder, "--every", "2", "--record", again],
                            capture_output=True, timeout=180)
    check(result.returncode == 0, "replay failed: %s" % result.stderr.decode(errors="replace"))
    check_replay(folder, start, times)
    replayed = read_script(again)
    check([e for _, e in replayed] == [e for _, e in events], "the replay recorded other events")
    check(all(abs(a - b) <= 50 for (a, _), (b, _) in zip(replayed, events)), "the replay recorded other times")
    log("recorded session: %d events, replayed and recorded again alike" % len(events))


def run_text_program(binary, display, root):
    """--text-program runs again each time the writer starts its text over,
    and what it prints then reaches the writer as a text event that the
    recording keeps; a run that fails and one that hangs past the 10 s
    limit leave the writer's text as it is and say why in the log. Each
    run of the command counts itself in a file: run 0 (before the window)
    and 1 print, 2 fails, 3 hangs; a page of a few letters lasts about 7 s."""
    counter, session = os.path.join(root, "text-runs"), os.path.join(root, "text.script")
    command = ('n=$(wc -l < %s 2>/dev/null || echo 0); echo >> %s; '
               'case $n in 2) exit 3;; 3) exec sleep 60;; esac; echo "run $n"' % (counter, counter))
    app = Nebla(binary, display, root, "textprogram", args=["--text-program", command, "--record", session])
    try:
        app.find_window()
        wait_until("the hanging run to time out", 60, lambda: "timed out after 10 s" in app.log_text())
        text = app.log_text()
    finally:
        app.stop()
    check("text: 1 page from the program" in text, "the log does not name the program:\n" + text)
    check("exited with status 3; the writer keeps its text" in text, "the failed run is not in the log:\n" + text)
    texts = [event for _, event in read_script(session) if event.startswith("text ")]
    check(texts[:2] == ['text "run 0\\n"', 'text "run 1\\n"'],
          "the recording's texts: %r" % texts)
    log("text program: run again at each start; recorded %r; a failure and a hang logged" % texts)


def run_bad_command_lines(binary, display, root):
    """A record file that cannot be made, or an unknown option: status 2
    and the reason on standard error, before the demo starts (it would
    write Nebla.log before opening its window)."""
    for name, args in (("badrecord", ["--record", "/proc/nope.script"]), ("bogus", ["--bogus"])):
        app = Nebla(binary, display, root, name, args=args)
        try:
            status = app.wait_exit(10)
            check(status == 2, "exit status %s for nebla %s" % (status, " ".join(args)))
            check(args[-1] in app.stderr_text(), "standard error does not name %s: %r" % (args[-1], app.stderr_text()))
            check(not os.path.exists(os.path.join(app.cwd, "Nebla.log")), "the demo started for %s" % args)
        finally:
            app.stop()
    log("bad command lines: status 2 before any window")


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
            run_unknown_video_driver(binary, root)
            run_unreachable_display(binary, root)
            server = XServer()
            log("Xvfb on " + server.display)
            run_window_refused(binary, server.display, root)
            run_escape(binary, server.display, root)
            run_close(binary, server.display, root)
            run_named_renderer(binary, server.display, root)
            run_stress(binary, server.display, root)
            run_helper_thread(binary, server.display, root)
            run_unwritable(binary, server.display, root)
            run_bad_command_lines(binary, server.display, root)
            run_recorded(binary, server.display, root)
            run_text_program(binary, server.display, root)
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
