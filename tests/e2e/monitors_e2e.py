#!/usr/bin/env python3
"""End-to-end checks of nebla on several monitors and in a covered window,
in virtual X servers.

--root on a 2080 x 960 root window that RandR splits into an 800 x 600 and
a 1280 x 960 monitor side by side: one picture on each, the first once and
centred, the second doubled, black around them, both showing the same
frame with the autopilot's smoke; the picture moves when RandR changes the
monitor while the root window keeps its size. --root on two X screens that Xinerama
joins (Xvfb lays them over one another, as mirrored outputs): one picture
whole on both, black on the rest of the larger screen. --root tells once
that X does not say when the root window is covered. In a window of another
client, covered wholly by a third window, nebla sends the X server no
picture at all (counted with the RECORD extension) while partly covered it
goes on drawing, and it draws again, frames having gone on, once uncovered.

Usage: monitors_e2e.py PATH_TO_NEBLA
Needs Xvfb (with RANDR, XINERAMA and RECORD, as Debian's has), xrandr, ImageMagick,
libX11, libXrandr and libXtst.
"""

import ctypes
import ctypes.util
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_e2e import HostWindow, desktop_env, picture_shown, smoke_in  # noqa: E402
from nebla_e2e import (FREE_SAMPLES, IMAGE_H, IMAGE_W, Failure, Nebla, Placement, XServer, check, keep, log,  # noqa: E402
                       screenshot, stop_process, wait_until)

def library(name, fallback):
    return ctypes.CDLL(ctypes.util.find_library(name) or fallback)


def open_display(x11, display):
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    connection = x11.XOpenDisplay(display.encode())
    check(connection, "cannot open %s" % display)
    return connection


# ---- monitors as RandR 1.5 describes them -------------------------------


class MonitorInfo(ctypes.Structure):
    _fields_ = [("name", ctypes.c_ulong), ("primary", ctypes.c_int), ("automatic", ctypes.c_int),
                ("noutput", ctypes.c_int), ("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("mwidth", ctypes.c_int), ("mheight", ctypes.c_int),
                ("outputs", ctypes.POINTER(ctypes.c_ulong))]


class ScreenResources(ctypes.Structure):
    _fields_ = [("timestamp", ctypes.c_ulong), ("config_timestamp", ctypes.c_ulong), ("ncrtc", ctypes.c_int),
                ("crtcs", ctypes.POINTER(ctypes.c_ulong)), ("noutput", ctypes.c_int),
                ("outputs", ctypes.POINTER(ctypes.c_ulong))]


def hold_monitors(display, rectangles):
    """Splits the screen into these monitors, as xrandr --setmonitor does,
    and keeps them: the server forgets them when this connection closes.
    The first takes over the screen's output, which drops the monitor the
    server made for it; the others have none."""
    x11 = library("X11", "libX11.so.6")
    randr = library("Xrandr", "libXrandr.so.2")
    connection = open_display(x11, display)
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    randr.XRRGetScreenResourcesCurrent.restype = ctypes.POINTER(ScreenResources)
    randr.XRRGetScreenResourcesCurrent.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    randr.XRRAllocateMonitor.restype = ctypes.POINTER(MonitorInfo)
    randr.XRRAllocateMonitor.argtypes = [ctypes.c_void_p, ctypes.c_int]
    randr.XRRSetMonitor.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(MonitorInfo)]
    root = x11.XDefaultRootWindow(connection)
    output = randr.XRRGetScreenResourcesCurrent(connection, root).contents.outputs[0]
    for i, (x, y, width, height) in enumerate(rectangles):
        monitor = randr.XRRAllocateMonitor(connection, 1 if i == 0 else 0)
        info = monitor.contents
        info.name = x11.XInternAtom(connection, b"NEBLA-TEST-%d" % i, 0)
        info.x, info.y, info.width, info.height = x, y, width, height
        info.mwidth, info.mheight = width // 4, height // 4
        if i == 0:
            info.outputs[0] = output
        randr.XRRSetMonitor(connection, root, monitor)
    x11.XSync(connection, 0)
    print("ready", flush=True)
    time.sleep(600)


# ---- pictures the client sends, as RECORD sees them ---------------------


class Range8(ctypes.Structure):
    _fields_ = [("first", ctypes.c_ubyte), ("last", ctypes.c_ubyte)]


class Range16(ctypes.Structure):
    _fields_ = [("first", ctypes.c_ushort), ("last", ctypes.c_ushort)]


class ExtRange(ctypes.Structure):
    _fields_ = [("ext_major", Range8), ("ext_minor", Range16)]


class RecordRange(ctypes.Structure):
    _fields_ = [("core_requests", Range8), ("core_replies", Range8), ("ext_requests", ExtRange),
                ("ext_replies", ExtRange), ("delivered_events", Range8), ("device_events", Range8),
                ("errors", Range8), ("client_started", ctypes.c_int), ("client_died", ctypes.c_int)]


class InterceptData(ctypes.Structure):
    _fields_ = [("id_base", ctypes.c_ulong), ("server_time", ctypes.c_ulong), ("client_seq", ctypes.c_ulong),
                ("category", ctypes.c_int), ("client_swapped", ctypes.c_int),
                ("data", ctypes.POINTER(ctypes.c_ubyte)), ("data_len", ctypes.c_ulong)]


INTERCEPT = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(InterceptData))
X_PUT_IMAGE = 72
X_SHM_PUT_IMAGE = 3
RECORD_ALL_CLIENTS = 3
RECORD_FROM_CLIENT = 1


class PictureCounter:
    """Counts the pictures every client sends the server: PutImage and
    MIT-SHM's ShmPutImage requests, which is how SDL draws a window
    surface. The test's own clients send none."""

    def __init__(self, display):
        x11 = library("X11", "libX11.so.6")
        record = library("Xtst", "libXtst.so.6")
        self.control = open_display(x11, display)
        self.data = open_display(x11, display)
        x11.XQueryExtension.argtypes = [ctypes.c_void_p, ctypes.c_char_p] + [ctypes.POINTER(ctypes.c_int)] * 3
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        shm, event, error = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        check(x11.XQueryExtension(self.control, b"MIT-SHM", ctypes.byref(shm), ctypes.byref(event),
                                  ctypes.byref(error)), "no MIT-SHM on the X server")
        record.XRecordAllocRange.restype = ctypes.POINTER(RecordRange)
        wanted = record.XRecordAllocRange()
        wanted.contents.core_requests = Range8(X_PUT_IMAGE, X_PUT_IMAGE)
        wanted.contents.ext_requests = ExtRange(Range8(shm.value, shm.value),
                                                Range16(X_SHM_PUT_IMAGE, X_SHM_PUT_IMAGE))
        record.XRecordCreateContext.restype = ctypes.c_ulong
        record.XRecordCreateContext.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.POINTER(ctypes.c_ulong),
                                                ctypes.c_int, ctypes.POINTER(ctypes.POINTER(RecordRange)),
                                                ctypes.c_int]
        clients = ctypes.c_ulong(RECORD_ALL_CLIENTS)
        context = record.XRecordCreateContext(self.control, 0, ctypes.byref(clients), 1, ctypes.byref(wanted), 1)
        check(context, "the X server cannot record requests")
        x11.XSync(self.control, 0)
        record.XRecordFreeData.argtypes = [ctypes.POINTER(InterceptData)]
        record.XRecordEnableContextAsync.argtypes = [ctypes.c_void_p, ctypes.c_ulong, INTERCEPT, ctypes.c_void_p]
        record.XRecordProcessReplies.argtypes = [ctypes.c_void_p]
        self.record = record
        self.count = 0
        self.callback = INTERCEPT(self.intercept)
        check(record.XRecordEnableContextAsync(self.data, context, self.callback, None),
              "cannot start recording requests")

    def intercept(self, _closure, data):
        if data.contents.category == RECORD_FROM_CLIENT:
            self.count += 1
        self.record.XRecordFreeData(data)

    def during(self, seconds):
        """How many pictures were sent in the next `seconds`."""
        self.record.XRecordProcessReplies(self.data)
        start = self.count
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            time.sleep(0.05)
            self.record.XRecordProcessReplies(self.data)
        return self.count - start


# ---- the cases ----------------------------------------------------------


def same_frame(shot, places):
    """Whether every picture shows the same image pixels as the first."""
    samples = [(x, y) for y in range(3, IMAGE_H, 16) for x in range(5, IMAGE_W, 16)]
    first = [places[0].image_pixel(shot, x, y) for x, y in samples]
    return all([place.image_pixel(shot, x, y) for x, y in samples] == first for place in places[1:])


def pictures_on(display, places, black):
    """A screenshot if each place shows the picture (black bars around it)
    with smoke in it, all of one frame, and the points in black are."""
    shot = screenshot(display)
    for place in places:
        if not picture_shown_in(shot, place) or smoke_in(shot, place) < 10:
            return None
    if not all(shot.pixel(x, y) == (0, 0, 0) for x, y in black):
        return None
    return shot if same_frame(shot, places) else None


def picture_shown_in(shot, place):
    """Whether one colour fills the places of the picture that the text
    never reaches, not black (entry 1 of every ramp, the background, has a
    channel at 1 or more; the autopilot changes ramps), with black bars
    around it."""
    colours = [place.image_pixel(shot, x, y) for x, y in FREE_SAMPLES]
    common = max(set(colours), key=colours.count)
    return common != (0, 0, 0) and colours.count(common) >= len(colours) - 3 and \
        all(shot.pixel(x, y) == (0, 0, 0) for x, y in place.bar_samples())


def root_run(binary, server, root, name, places, black, what):
    app = Nebla(binary, server.display, root, name, extra_env=desktop_env(root, name),
                args=["--root"])
    try:
        shot = wait_until(what, 40, lambda: pictures_on(server.display, places, black), 0.5)
        keep(shot, name)
        app.proc.terminate()
        check(app.wait_exit(5) == 0, "%s: no status 0 after SIGTERM" % name)
        told = app.stderr_text().count("root window: X does not tell when it is covered")
        check(told == 1, "%s: told %d times that the root's cover is unknown: %r" % (name, told, app.stderr_text()))
    finally:
        app.stop()


def run_randr_monitors(binary, root):
    server = XServer(screens=["-screen", "0", "2080x960x24"])
    holder = None
    try:
        holder = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--hold-monitors", server.display,
                                   "0,0,800,600", "800,0,1280,960"], stdout=subprocess.PIPE, start_new_session=True)
        check(holder.stdout.readline().strip() == b"ready", "could not set the RandR monitors")
        places = [Placement(0, 0, 800, 600, whole=True), Placement(800, 0, 1280, 960, whole=True)]
        check([p.scale for p in places] == [1, 2], "the test expects the pictures once and doubled")
        root_run(binary, server, root, "randr-monitors", places, [(400, 700), (10, 950), (799, 900)],
                 "a picture on each RandR monitor, once and doubled")
        log("--root on RandR monitors 800x600 and 1280x960 side by side: one picture each, x1 and x2")
    finally:
        stop_process(holder)
        server.stop()


def run_monitor_resized(binary, root):
    """RandR gives the screen's one output a smaller mode while the root
    window keeps its size: the picture moves onto the smaller monitor."""
    server = XServer(screens=["-screen", "0", "2080x960x24"])
    name = "monitor-resized"
    app = Nebla(binary, server.display, root, name, extra_env=desktop_env(root, name), args=["--root"])
    try:
        wait_until("one doubled picture on the whole root", 40,
                   lambda: pictures_on(server.display, [Placement(0, 0, 2080, 960, whole=True)], [(200, 480)]), 0.5)
        xrandr = lambda *args: subprocess.run(["xrandr", "--display", server.display] + list(args), check=True)
        xrandr("--newmode", "1280x960", "0", "1280", "0", "0", "0", "960", "0", "0", "0")
        xrandr("--addmode", "screen", "1280x960")
        xrandr("--output", "screen", "--mode", "1280x960", "--fb", "2080x960")
        shot = wait_until("the picture on the 1280x960 monitor, black right of it", 20,
                          lambda: pictures_on(server.display, [Placement(0, 0, 1280, 960, whole=True)],
                                              [(1500, 480), (2070, 10), (1300, 950)]), 0.5)
        keep(shot, name)
        log("--root: the output's mode made 1280x960 in a root that stays 2080x960; the picture follows")
    finally:
        app.stop()
        server.stop()


def run_xinerama_screens(binary, root):
    server = XServer(screens=["+xinerama", "-screen", "0", "1280x960x24", "-screen", "1", "800x600x24"])
    try:
        root_run(binary, server, root, "xinerama-screens", [Placement(0, 0, 800, 600, whole=True)],
                 [(1000, 100), (1000, 900), (400, 800), (1279, 959)],
                 "one picture on the part both Xinerama screens show")
        log("--root on Xinerama screens 1280x960 and 800x600 over one another: one picture whole on both")
    finally:
        server.stop()


def run_covered(binary, root):
    """nebla in a window that a third client's window covers partly, then
    wholly, then no longer."""
    server = XServer()
    display = server.display
    host = HostWindow(display, 640, 480)
    app = Nebla(binary, display, root, "covered", extra_env=desktop_env(root, "covered"),
                args=["--window-id", str(host.id)])
    covers = []
    try:
        place = Placement(0, 0, 640, 480, whole=True)
        wait_until("smoke in the window", 30,
                   lambda: (lambda s: s is not None and smoke_in(s, place) >= 10)(picture_shown(display, place)), 0.5)
        pictures = PictureCounter(display)
        shown = pictures.during(2)
        check(shown >= 10, "only %d pictures in 2 s in the uncovered window" % shown)
        covers.append(HostWindow(display, 320, 480))
        partly = pictures.during(2)
        check(partly >= 10, "only %d pictures in 2 s in the half-covered window" % partly)
        before = screenshot(display)
        covers.append(HostWindow(display, 800, 600))
        time.sleep(1)
        covered = pictures.during(3)
        check(covered == 0, "%d pictures sent in 3 s for the wholly covered window" % covered)
        for cover in reversed(covers):
            cover.destroy()
        again = pictures.during(2)
        check(again >= 10, "only %d pictures in 2 s once uncovered" % again)
        after = wait_until("the picture once uncovered", 10, lambda: picture_shown(display, place), 0.5)
        keep(after, "uncovered")
        moved = sum(before.pixel(x, y) != after.pixel(x, y) for x in range(320, 640, 4) for y in range(0, 480, 4))
        check(moved > 0, "the picture after the cover is the one from before it")
        check("X does not tell" not in app.stderr_text(), "a window that X tells about said it cannot know")
        app.proc.terminate()
        check(app.wait_exit(5) == 0, "covered: no status 0 after SIGTERM")
        log("a window of another client: %d, %d half covered, %d wholly covered, %d uncovered pictures "
            "in 2, 2, 3 and 2 s" % (shown, partly, covered, again))
    finally:
        app.stop()
        for cover in covers:
            cover.close()
        host.close()
        server.stop()


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "--hold-monitors":
        hold_monitors(sys.argv[2], [tuple(int(v) for v in r.split(",")) for r in sys.argv[3:]])
        return 0
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    binary = os.path.abspath(sys.argv[1])
    try:
        with tempfile.TemporaryDirectory(prefix="nebla-monitors-") as root:
            run_randr_monitors(binary, root)
            run_monitor_resized(binary, root)
            run_xinerama_screens(binary, root)
            run_covered(binary, root)
    except Failure as failure:
        print("[e2e] FAILED: %s" % failure, flush=True)
        return 1
    print("[e2e] all checks passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
