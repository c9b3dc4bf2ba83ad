#!/usr/bin/env python3
"""End-to-end checks of nebla as a screensaver and live wallpaper, in a
virtual X server.

A window made by another X client (this script, through libX11): nebla
--window-id draws the picture and the autopilot's smoke into it, follows
a resize, writes its log under XDG_STATE_HOME and none in its working
directory, and exits with status 0 within a second of SIGTERM; runs whose
window is destroyed, or whose window's owner is killed, at points from
before it is drawn in to well after the set-up's pause end promptly with status 0 and no X error,
every time; a run ends as promptly on SIGTERM during its set-up, its
recording whole, and a recording that can no longer be written leaves the
window's title alone. Ids that are not numbers, name no window or name an
InputOnly window get status 2, as does a text program that fails its first
run. --root draws on the root window
with the starting colour ramp of --scheme. Last, Debian's xscreensaver,
activated with nebla as its only program, shows the smoke.

Usage: desktop_e2e.py PATH_TO_NEBLA
Needs Xvfb, ImageMagick, libX11 and xscreensaver; as root, runuser (the
screensaver refuses to start programs as root, so it runs as nobody).
"""

import ctypes
import ctypes.util
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from nebla_e2e import (FREE_SAMPLES, GREY_ENTRY1, IMAGE_H, IMAGE_W, SCREEN_H, SCREEN_W, Failure,  # noqa: E402
                       Nebla, Placement, XServer, check, keep, log, screenshot, stop_process, wait_until)


class HostWindow:
    """A plain white window of another client, as a desktop or a
    screensaver makes one for a program to draw in."""

    TITLE = "Host window"

    def __init__(self, display, width, height, input_only=False):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XWhitePixel.restype = ctypes.c_ulong
        x11.XWhitePixel.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XCreateSimpleWindow.restype = ctypes.c_ulong
        x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
            [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
        x11.XCreateWindow.restype = ctypes.c_ulong
        x11.XCreateWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
            [ctypes.c_uint] * 3 + [ctypes.c_int, ctypes.c_uint, ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
        for name in ("XMapWindow", "XDestroyWindow"):
            getattr(x11, name).argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x11.XResizeWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_uint, ctypes.c_uint]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x11 = x11
        self.connection = x11.XOpenDisplay(display.encode())
        check(self.connection, "cannot open %s" % display)
        white = x11.XWhitePixel(self.connection, 0)
        root = x11.XDefaultRootWindow(self.connection)
        if input_only:  # class InputOnly, depth and visual CopyFromParent
            self.id = x11.XCreateWindow(self.connection, root, 0, 0, width, height, 0, 0, 2, None, 0, None)
        else:
            self.id = x11.XCreateSimpleWindow(self.connection, root, 0, 0, width, height, 0, white, white)
        x11.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
        x11.XStoreName(self.connection, self.id, self.TITLE.encode())
        x11.XMapWindow(self.connection, self.id)
        x11.XSync(self.connection, 0)

    def resize(self, width, height):
        self.x11.XResizeWindow(self.connection, self.id, width, height)
        self.x11.XSync(self.connection, 0)

    def destroy(self):
        self.x11.XDestroyWindow(self.connection, self.id)
        self.x11.XSync(self.connection, 0)

    def close(self):
        self.x11.XCloseDisplay(self.connection)


def picture_shown(display, place):
    """A screenshot if the picture lies at place: the places the text never
    reaches show one colour of a ramp (not the host's white) and the bars
    around it are black."""
    shot = screenshot(display)
    colours = [place.image_pixel(shot, x, y) for x, y in FREE_SAMPLES]
    common = max(set(colours), key=colours.count)
    bars = all(shot.pixel(x, y) == (0, 0, 0) for x, y in place.bar_samples())
    return shot if bars and common != (255, 255, 255) and colours.count(common) >= len(colours) - 3 else None


def smoke_in(shot, place):
    """How many sampled picture pixels stand far out from the picture's
    most common colour (the background of the ramp shown) in one channel
    at least: dense fresh smoke does, the text writer's letters (at most
    half the ramp) do not."""
    pixels = [place.image_pixel(shot, x, y) for y in range(0, IMAGE_H, 2) for x in range(0, IMAGE_W, 2)]
    common = max(set(pixels), key=pixels.count)
    return sum(max(abs(a - b) for a, b in zip(p, common)) >= 170 for p in pixels)


def wait_for_smoke(display, place, name, timeout=30):
    def shot_with_smoke():
        shot = picture_shown(display, place)
        return shot if shot is not None and smoke_in(shot, place) >= 10 else None
    shot = wait_until("smoke in the picture", timeout, shot_with_smoke, 0.5)
    keep(shot, name)
    return shot


def desktop_env(root, name):
    home = os.path.join(root, name + "-home")
    os.mkdir(home)
    return {"HOME": home, "XDG_STATE_HOME": os.path.join(home, "state")}


def run_in_window(binary, display, root):
    """Smoke in a window of another client, a resize followed, the log
    where a desktop program keeps its state, the writer's own text without
    the key pages (nobody can press a key there), and a prompt end on
    SIGTERM."""
    host = HostWindow(display, 800, 600)
    env = desktop_env(root, "adopted")
    app = Nebla(binary, display, root, "adopted", extra_env=env, args=["--window-id", str(host.id)])
    try:
        place = Placement(0, 0, 800, 600, whole=True)
        wait_until("the picture in the window", 30, lambda: picture_shown(display, place), 0.5)
        wait_for_smoke(display, place, "window-smoke")
        host.resize(1280, 1000)
        place = Placement(0, 0, 1280, 1000, whole=True)
        check(place.scale == 2, "the test expects the picture doubled in the larger window")
        wait_until("the picture doubled after the resize", 15, lambda: picture_shown(display, place), 0.5)
        keep(screenshot(display), "window-resized")
        app.proc.terminate()
        start = time.monotonic()
        status = app.wait_exit(5)
        took = time.monotonic() - start
        check(status == 0 and took <= 1.0, "SIGTERM: status %s after %.2f s" % (status, took))
        state_log = os.path.join(env["XDG_STATE_HOME"], "nebla", "Nebla.log")
        check(os.path.isfile(state_log), "no log under XDG_STATE_HOME")
        with open(state_log) as f:
            logged = f.read()
        check("text: the writer's own, without the pages that teach keys" in logged,
              "the host's text is not the one without key pages:\n" + logged)
        check(os.listdir(app.cwd) == [], "files in the working directory: %s" % os.listdir(app.cwd))
        log("another client's window: smoke, resize followed, status 0 %.2f s after SIGTERM" % took)
    finally:
        app.stop()
        host.close()


# The owner of the window in a process of its own, to be killed with
# SIGKILL: its window goes with its connection.
OWNER = """
import sys, time
sys.path.insert(0, sys.argv[1])
from desktop_e2e import HostWindow
print(HostWindow(sys.argv[2], 640, 480).id, flush=True)
time.sleep(600)
"""


def end_window(binary, display, root, name, wait, kill_owner):
    """nebla in a 640 x 480 window of another client; after `wait` seconds
    the window is destroyed, or its owner killed. nebla must end within a
    second and a half with status 0 and no X error, whatever it was doing."""
    owner = host = None
    if kill_owner:
        owner = subprocess.Popen([sys.executable, "-c", OWNER, os.path.dirname(os.path.abspath(__file__)), display],
                                 stdout=subprocess.PIPE, start_new_session=True)
        window = int(owner.stdout.readline())
    else:
        host = HostWindow(display, 640, 480)
        window = host.id
    app = Nebla(binary, display, root, name, extra_env=desktop_env(root, name), args=["--window-id", hex(window)])
    try:
        time.sleep(wait)
        check(app.alive(), "%s: nebla ended before its window did: %s" % (name, app.stderr_text()))
        if kill_owner:
            owner.kill()
        else:
            host.destroy()
        start = time.monotonic()
        status = app.wait_exit(5)
        took = time.monotonic() - start
        errors = app.stderr_text()
        check(status == 0 and took <= 1.5 and "X Error" not in errors,
              "%s: status %s after %.2f s: %s" % (name, status, took, errors))
        return took
    finally:
        app.stop()
        if host is not None:
            host.close()
        stop_process(owner)


def run_window_destroyed(binary, display, root):
    """The window destroyed while nebla starts to draw in it (under the
    sanitizers, before it can), in the set-up's pause, just after it and well
    into the run, twice over, and its owner killed: plain waits, so no
    screenshot or other check shifts the moment."""
    cases = [(wait, False) for _ in range(2) for wait in (0.3, 0.5, 2.5, 4.0, 6.0)] + [(3.0, True), (5.0, True)]
    took = [end_window(binary, display, root, "gone%d" % i, wait, kill)
            for i, (wait, kill) in enumerate(cases)]
    log("the window destroyed or its owner killed, %d times from 0.3 to 6 s: status 0 within %.2f s"
        % (len(cases), max(took)))


def run_recording_fails(binary, display, root):
    """A recording that can no longer be written (a file size limit, with
    SIGXFSZ ignored) is told on standard error; the window keeps its
    owner's title, and the program runs on."""
    host = HostWindow(display, 640, 480)
    record = os.path.join(root, "limited.script")
    limited = "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\""
    app = Nebla("/bin/sh", display, root, "limited", extra_env=desktop_env(root, "limited"),
                args=["-c", limited, binary, "--window-id", str(host.id), "--record", record])
    try:
        wait_until("the recording to stop", 30, lambda: "recording stopped" in app.stderr_text(), 0.2)
        for _ in range(5):
            title = subprocess.run(["xdotool", "getwindowname", str(host.id)], capture_output=True,
                                   env=dict(os.environ, DISPLAY=display)).stdout.decode().strip()
            check(title == HostWindow.TITLE, "the host window's title became %r" % title)
            time.sleep(0.3)
        check(app.alive(), "nebla ended when its recording stopped")
        app.proc.terminate()
        check(app.wait_exit(5) == 0, "no status 0 after SIGTERM")
        log("the recording stopped: told on standard error, the host window keeps its title")
    finally:
        app.stop()
        host.close()


def run_sigterm_in_setup(binary, display, root):
    """SIGTERM during the set-up's pause of two seconds ends the program at
    once as well, with its recording whole."""
    host = HostWindow(display, 640, 480)
    record = os.path.join(root, "setup.script")
    app = Nebla(binary, display, root, "setup", extra_env=desktop_env(root, "setup"),
                args=["--window-id", str(host.id), "--record", record])
    try:
        time.sleep(0.5)
        app.proc.terminate()
        start = time.monotonic()
        status = app.wait_exit(5)
        took = time.monotonic() - start
        check(status == 0 and took <= 1.0, "SIGTERM in the set-up: status %s after %.2f s" % (status, took))
        with open(record, "rb") as f:
            text = f.read()
        check(text.startswith(b"# Nebla session") and text.endswith(b"\n"), "a broken recording: %r" % text)
        log("SIGTERM in the set-up: status 0 after %.2f s, the recording whole" % took)
    finally:
        app.stop()
        host.close()


def run_bad_ids(binary, display, root):
    invisible = HostWindow(display, 640, 480, input_only=True)
    for name, window in (("notanumber", "12ab"), ("nosuchwindow", "0x7ffffff0"),
                         ("inputonly", str(invisible.id))):
        app = Nebla(binary, display, root, name, args=["--window-id", window])
        try:
            status = app.wait_exit(10)
            check(status == 2 and window in app.stderr_text(), "--window-id %s: status %s, %r"
                  % (window, status, app.stderr_text()))
        finally:
            app.stop()
    invisible.close()
    log("bad window ids (not a number, no window, an InputOnly window): status 2")
    # A text program that fails its first run leaves no text to keep.
    app = Nebla(binary, display, root, "badprogram", args=["--root", "--text-program", "echo half; exit 3"])
    try:
        status = app.wait_exit(10)
        check(status == 2 and "exited with status 3" in app.stderr_text(),
              "a text program failing its first run: status %s, %r" % (status, app.stderr_text()))
    finally:
        app.stop()
    log("a text program failing its first run: status 2, and why")


def run_root(binary, display, root):
    """--root with the grey ramp to start with and no autopilot: the root
    window shows the picture, doubled on the 1280 x 1024 screen."""
    app = Nebla(binary, display, root, "root", extra_env=desktop_env(root, "root"),
                args=["--root", "--scheme", "3", "--no-autopilot"])
    try:
        place = Placement(0, 0, SCREEN_W, SCREEN_H, whole=True)
        shot = wait_until("the grey picture on the root window", 30,
                          lambda: (lambda s: s if s is not None and place.image_pixel(s, 4, 6) == GREY_ENTRY1
                                   else None)(picture_shown(display, place)), 0.5)
        keep(shot, "root")
        app.proc.terminate()
        check(app.wait_exit(5) == 0, "--root: no status 0 after SIGTERM")
        log("--root: the picture on the root window, ramp 3")
    finally:
        app.stop()


def run_xscreensaver(binary, display, root):
    """Debian's xscreensaver with nebla as its only program: it hands nebla
    its window in XSCREENSAVER_WINDOW and the smoke shows."""
    home = os.path.join(root, "saver-home")
    os.mkdir(home)
    with open(os.path.join(home, ".xscreensaver"), "w") as f:
        f.write("mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\nsplash: False\n"
                "dpmsEnabled: False\nprograms: %s --root \\n\n" % binary)
    user = []
    if os.geteuid() == 0:
        shutil.chown(home, "nobody")
        os.chmod(root, 0o755)
        user = ["runuser", "-u", "nobody", "--"]
    env = ["env", "HOME=" + home, "DISPLAY=" + display, "XDG_STATE_HOME=" + os.path.join(home, "state")]
    saver = subprocess.Popen(user + env + ["xscreensaver", "-no-splash"], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        command = user + env + ["xscreensaver-command", "-activate"]
        wait_until("xscreensaver to take the command", 20,
                   lambda: subprocess.run(command, capture_output=True, timeout=10).returncode == 0, 0.5)
        shot = wait_for_smoke(display, Placement(0, 0, SCREEN_W, SCREEN_H, whole=True), "xscreensaver", 40)
        check(os.path.isfile(os.path.join(home, "state", "nebla", "Nebla.log")), "no log in the state folder")
        check(not os.path.exists(os.path.join(home, "Nebla.log")), "a log in the home folder")
        log("xscreensaver: the smoke on the screen (%d pixels stand out)"
            % smoke_in(shot, Placement(0, 0, SCREEN_W, SCREEN_H, whole=True)))
    finally:
        subprocess.run(user + env + ["xscreensaver-command", "-exit"], capture_output=True, timeout=10)
        stop_process(saver)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    binary = os.path.abspath(sys.argv[1])
    server = None
    try:
        with tempfile.TemporaryDirectory(prefix="nebla-desktop-") as root:
            server = XServer()
            log("Xvfb on " + server.display)
            run_bad_ids(binary, server.display, root)
            run_in_window(binary, server.display, root)
            run_window_destroyed(binary, server.display, root)
            run_sigterm_in_setup(binary, server.display, root)
            run_recording_fails(binary, server.display, root)
            run_root(binary, server.display, root)
            run_xscreensaver(binary, server.display, root)
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
