#!/usr/bin/env python3
"""End to end: the Windows programs under Wine in a virtual X server.

nebla.exe opens a full-screen window with the picture at twice its size,
smoke appears under a drag made with xdotool, PrintScreen saves a .bmp,
Alt+Enter gives a window and back, and Escape ends it with status 0, as
does a close request (Alt+F4).
Nebla.scr /s shows the text writer full screen, takes no notice of the
pointer's jitter and ends on a key, and on a real movement; the settings
dialog (/c) stores its choices in the registry, and the screensaver then
starts with them; a text typed into its box is stored, and /s spells it (its
screen is one of the frames the Linux capture tool draws with that text),
while one of 201 pages is refused by OK with a message and, in /s, named in
the log with Nebla's own text spelt instead; on two monitors (Xephyr with
Xinerama inside the Xvfb) /s draws the same picture on both, each at its own
whole multiple with black around, and a key or a movement on the second
monitor ends it; in a preview window (/p) its window follows the preview's
size and ends when the preview closes, and it ends at once, without the
outro, on a WM_CLOSE to its window or when its window is destroyed while the
preview lives; damaged arguments end it quietly with no window.

Usage: e2e_wine.py BUILD_DIR SHOTS_DIR [LINUX_CAPTURE]
Needs Xvfb, Xephyr, xdotool, ImageMagick, ffmpeg and Wine
(tests/windows/wine-run). Without LINUX_CAPTURE the stored text's frames
are not compared. NEBLA_E2E_DISPLAY=N uses displays :N and :N+1 instead of
the first free ones.
"""

import glob
import hashlib
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE = os.path.join(HERE, "wine-run")
SCREEN_W, SCREEN_H = 1280, 1024
# 640 x 480 at twice its size, centred: 32 rows of black above and below.
PICTURE = (0, 32, 1280, 960)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def log(message):
    print("[wine-e2e] " + message, flush=True)


def wait_until(what, timeout, predicate, interval=0.2):
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def fixed_display(offset):
    first = os.environ.get("NEBLA_E2E_DISPLAY")
    return None if not first else ":%d" % (int(first) + offset)


class XServer:
    """An X server on its fixed display number, or on the first free one,
    which it picks itself and writes to a pipe; DISPLAY then names it."""

    def __init__(self, command, display=None):
        if display is not None:
            self.proc = subprocess.Popen(command[:1] + [display] + command[1:],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                         start_new_session=True)
            self.display = display
            socket = "/tmp/.X11-unix/X" + display[1:]
            wait_until("the X server " + display, 30, lambda: os.path.exists(socket))
        else:
            self.display = self.start_free(command)
        os.environ["DISPLAY"] = self.display

    def start_free(self, command):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(command + ["-displayfd", str(write_end)],
                                     pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], 30)
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                raise Failure("%s did not start" % command[0])
            number += chunk
        os.close(read_end)
        return ":" + number.decode().strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def run(*args, timeout=30):
    result = subprocess.run(list(args), capture_output=True, timeout=timeout)
    if result.returncode != 0:
        raise Failure("%s failed: %s" % (" ".join(args), result.stderr.decode(errors="replace")))
    return result.stdout.decode(errors="replace")


def xdotool(*args):
    return run("xdotool", *args)


class Program:
    """A Windows program under Wine, in its own working directory."""

    def __init__(self, exe, *args, cwd):
        self.proc = subprocess.Popen([WINE, exe, *args], cwd=cwd, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait(timeout=10)


def window(name, timeout=30):
    def find():
        out = subprocess.run(["xdotool", "search", "--name", "^%s$" % name], capture_output=True)
        ids = out.stdout.decode().split()
        return ids[-1] if ids else None
    return wait_until("the window '%s'" % name, timeout, find)


def screenshot(path, size=(SCREEN_W, SCREEN_H)):
    run("import", "-window", "root", path)
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                         check=True).stdout
    check(len(raw) == size[0] * size[1] * 3, "unexpected screenshot size")
    return raw


def brightness(raw, rect, width=SCREEN_W):
    """Mean of red + green + blue over a rectangle of the screen."""
    x0, y0, w, h = rect
    total = 0
    for y in range(y0, y0 + h, 2):
        row = raw[(y * width + x0) * 3:(y * width + x0 + w) * 3]
        total += sum(row[::6]) + sum(row[1::6]) + sum(row[2::6])
    return total / ((w // 2) * (h // 2))


def lit_pixels(raw, rect, level=60, width=SCREEN_W):
    x0, y0, w, h = rect
    count = 0
    for y in range(y0, y0 + h, 2):
        for x in range(x0, x0 + w, 2):
            i = (y * width + x) * 3
            if raw[i] + raw[i + 1] + raw[i + 2] > level:
                count += 1
    return count


def colour_sums(raw, rect):
    """Sums of red, green and blue over a rectangle, every other pixel."""
    x0, y0, w, h = rect
    sums = [0, 0, 0]
    for y in range(y0, y0 + h, 2):
        row = raw[(y * SCREEN_W + x0) * 3:(y * SCREEN_W + x0 + w) * 3]
        for c in range(3):
            sums[c] += sum(row[c::6])
    return sums


def picture_pixels(raw, rect, scale, width):
    """The picture's own pixels: the top-left screen pixel of each block."""
    x0, y0, w, h = rect
    rows = []
    for y in range(y0, y0 + h, scale):
        row = raw[(y * width + x0) * 3:(y * width + x0 + w) * 3]
        rows.append(b"".join(row[x:x + 3] for x in range(0, w * 3, scale * 3)) if scale > 1
                    else row)
    return b"".join(rows)


def sharp_at_twice(raw, rect):
    """Whether every picture pixel in the rectangle is a block of 2 x 2
    equal screen pixels (the picture starts at an even row and column)."""
    x0, y0, w, h = rect
    for y in range(y0, y0 + h, 2):
        top = raw[(y * SCREEN_W + x0) * 3:(y * SCREEN_W + x0 + w) * 3]
        below = raw[((y + 1) * SCREEN_W + x0) * 3:((y + 1) * SCREEN_W + x0 + w) * 3]
        if top != below:
            return False
        for x in range(0, w * 3, 6):
            if top[x:x + 3] != top[x + 3:x + 6]:
                return False
    return True


def hold_key(name, seconds=0.4):
    """The program polls its keys; a tap shorter than one pass can be lost."""
    xdotool("keydown", name)
    time.sleep(seconds)
    xdotool("keyup", name)


def test_window(build, shots, work):
    log("nebla.exe: window, drag, PrintScreen, Alt+Enter, Escape")
    xdotool("mousemove", "100", "100")
    program = Program(os.path.join(build, "nebla.exe"), cwd=work)
    try:
        win = window("Nebla")
        time.sleep(3.5)  # the set-up pause of two seconds
        geometry = xdotool("getwindowgeometry", win)
        check("%dx%d" % (SCREEN_W, SCREEN_H) in geometry, "not full screen: " + geometry)
        before = screenshot(os.path.join(shots, "window-before.png"))
        check(brightness(before, (0, 0, SCREEN_W, 32)) < 1, "the bar above the picture is not black")
        area = (300, 540, 700, 300)  # below the writer's first line
        xdotool("mousemove", "320", "560", "mousedown", "1")
        for step in range(1, 31):
            xdotool("mousemove", str(320 + step * 20), str(560 + (step % 10) * 25))
            time.sleep(0.04)
        xdotool("mouseup", "1")
        time.sleep(0.2)
        after = screenshot(os.path.join(shots, "window-smoke.png"))
        gain = lit_pixels(after, area) - lit_pixels(before, area)
        log("lit pixels in the drag area: %d before, %d after" % (lit_pixels(before, area),
                                                                 lit_pixels(after, area)))
        check(gain > 500, "no smoke appeared under the drag (%d more lit pixels)" % gain)
        check(sharp_at_twice(after, area), "the picture is not drawn at twice its size, sharp")

        xdotool("key", "Print")
        bmp = wait_until("the screenshot file", 10, lambda: [
            f for f in os.listdir(work) if f.startswith("nebla-") and f.endswith(".bmp")])
        info = run("identify", "-format", "%w %h %[type]", os.path.join(work, bmp[0]))
        check(info.startswith("640 480"), "PrintScreen gave " + info)

        # A window of the largest whole multiple within nine tenths of the
        # screen: here once, 640 x 480.
        hold_key("alt+Return", 0.2)
        wait_until("a 640 x 480 window", 10,
                   lambda: "640x480" in xdotool("getwindowgeometry", win))
        screenshot(os.path.join(shots, "window-alt-enter.png"))
        hold_key("alt+Return", 0.2)
        wait_until("full screen again", 10,
                   lambda: "%dx%d" % (SCREEN_W, SCREEN_H) in xdotool("getwindowgeometry", win))

        hold_key("Escape")
        status = program.wait(30)
        check(status == 0, "exit status %s after Escape" % status)
    finally:
        program.stop()

    log("nebla.exe: Alt+F4 asks the window to close, which ends it like Escape")
    program = Program(os.path.join(build, "nebla.exe"), cwd=work)
    try:
        window("Nebla")
        time.sleep(3.5)
        hold_key("alt+F4", 0.2)
        status = program.wait(30)
        check(status == 0, "exit status %s after Alt+F4" % status)
    finally:
        program.stop()


def set_autopilot(on):
    run(WINE, "reg", "add", r"HKCU\Software\Nebla\Screensaver", "/v", "Autopilot", "/t",
        "REG_DWORD", "/d", "1" if on else "0", "/f")


def test_screensaver(build, shots, work):
    log("Nebla.scr /s: the writer alone full screen, jitter ignored, a key ends it")
    scr = os.path.join(build, "Nebla.scr")
    set_autopilot(False)
    xdotool("mousemove", "600", "500")
    program = Program(scr, "/s", cwd=work)
    try:
        window("Nebla")
        time.sleep(8)
        xdotool("mousemove", "602", "501")  # jitter: not an end
        shot = screenshot(os.path.join(shots, "screensaver.png"))
        lit = lit_pixels(shot, PICTURE)
        log("lit pixels of the screensaver: %d" % lit)
        check(lit > 300, "the screensaver shows nothing (%d lit pixels)" % lit)
        red, green, blue = colour_sums(shot, PICTURE)
        check(blue > green > red, "not the first ramp's blue: %s" % [red, green, blue])
        check(program.wait(1) is None, "the screensaver ended on the pointer's jitter")
        xdotool("key", "a")
        status = program.wait(15)
        check(status == 0, "exit status %s after a key" % status)
    finally:
        program.stop()

    log("Nebla.scr /s ends on a real movement of the pointer")
    program = Program(scr, "/s", cwd=work)
    try:
        window("Nebla")
        time.sleep(3)
        xdotool("mousemove", "700", "600")
        status = program.wait(15)
        check(status == 0, "exit status %s after a movement" % status)
    finally:
        program.stop()

    log("Nebla.scr /s with the autopilot (the default): the hand plays, a key ends it")
    subprocess.run([WINE, "reg", "delete", r"HKCU\Software\Nebla", "/f"], capture_output=True)
    xdotool("mousemove", "600", "500")
    program = Program(scr, "/s", cwd=work)
    try:
        window("Nebla")
        # The writer alone keeps ramp 1's blue and lights well under 3000
        # pixels in its first 12 s (about 700 at 8 s, above); the hand
        # changes ramps, sprays and draws the picture.
        seen = []
        for second in (4, 8, 12):
            time.sleep(4)
            shot = screenshot(os.path.join(shots, "screensaver-autopilot-%02d.png" % second))
            red, green, blue = colour_sums(shot, PICTURE)
            seen.append((second, lit_pixels(shot, PICTURE), [red, green, blue]))
            if not blue > green > red or seen[-1][1] > 3000:
                break
        log("the autopilot's screens (second, lit pixels, colours): %s" % seen)
        second, lit, (red, green, blue) = seen[-1]
        check(not blue > green > red or lit > 3000,
              "in 12 s the hand changed no ramp and sprayed nothing: %s" % seen)
        xdotool("key", "a")
        check(program.wait(15) == 0, "the screensaver with the autopilot did not end on a key")
    finally:
        program.stop()


def registry_value(name):
    out = run(WINE, "reg", "query", r"HKCU\Software\Nebla\Screensaver", "/v", name)
    return out.split()[-1] if "REG_DWORD" in out else None


def open_settings(build, work):
    """Nebla.scr /c, once its dialog is there and has the keyboard."""
    program = Program(os.path.join(build, "Nebla.scr"), "/c", cwd=work)
    try:
        dialog = window("Nebla screensaver")
        time.sleep(1)
        # Without a window manager the keys go where the pointer is.
        xdotool("mousemove", "--window", dialog, "20", "20")
        xdotool("windowfocus", "--sync", dialog)
    except BaseException:
        program.stop()
        raise
    return program


def test_settings(build, shots, work):
    log("Nebla.scr /c: the settings dialog stores ramp 2 and the light")
    subprocess.run([WINE, "reg", "delete", r"HKCU\Software\Nebla", "/f"], capture_output=True)
    program = open_settings(build, work)
    try:
        screenshot(os.path.join(shots, "settings.png"))
        # The ramp list has the focus: ramp 1 -> 2, the light on, the
        # autopilot off, then OK.
        for key in ("Down", "Tab", "space", "Tab", "space", "Return"):
            xdotool("key", key)
            time.sleep(0.3)
        status = program.wait(15)
        check(status == 0, "exit status %s after OK" % status)
    finally:
        program.stop()
    check(registry_value("Ramp") == "0x2", "Ramp not stored: %s" % registry_value("Ramp"))
    check(registry_value("Light") == "0x1", "Light not stored: %s" % registry_value("Light"))
    check(registry_value("Autopilot") == "0x0",
          "Autopilot not stored: %s" % registry_value("Autopilot"))

    log("Nebla.scr /s starts with ramp 2 and the light")
    program = Program(os.path.join(build, "Nebla.scr"), "/s", cwd=work)
    try:
        window("Nebla")
        time.sleep(6)
        shot = screenshot(os.path.join(shots, "screensaver-ramp2-light.png"))
        lit = lit_pixels(shot, PICTURE)
        check(lit > 300, "the screensaver with the settings shows nothing (%d lit pixels)" % lit)
        red, green, blue = colour_sums(shot, PICTURE)
        check(green > 1.5 * max(red, blue), "not ramp 2's green: %s" % [red, green, blue])
        # The light spreads a glow far from the text, which the writer alone never lights.
        glow = lit_pixels(shot, (100, 200, 300, 200), level=30)
        check(glow > 1000, "no light around the text (%d lit pixels)" % glow)
        xdotool("key", "a")
        check(program.wait(15) == 0, "the screensaver with the settings did not end on a key")
    finally:
        program.stop()
        subprocess.run([WINE, "reg", "delete", r"HKCU\Software\Nebla", "/f"], capture_output=True)

# Two lines, to cross the box's Return; the writer wraps and centres them.
STORED_TEXT = "Smoke over the hills\nwritten in the settings"


def frame_hashes(capture, text_file, frames_dir):
    """Hashes of every frame the Linux capture tool draws in its first 12 s
    with the text, decoded to RGB by ffmpeg (one stream, not one process a
    frame)."""
    subprocess.run([capture, "--text", text_file, "--seconds", "12", "--png", frames_dir],
                   capture_output=True, check=True, timeout=120)
    decoder = subprocess.Popen(["ffmpeg", "-loglevel", "error", "-i",
                                os.path.join(frames_dir, "frame-%05d.png"), "-f", "rawvideo",
                                "-pix_fmt", "rgb24", "-"], stdout=subprocess.PIPE)
    hashes = set()
    size = 640 * 480 * 3
    while True:
        frame = decoder.stdout.read(size)
        if len(frame) < size:
            break
        hashes.add(hashlib.sha256(frame).hexdigest())
    check(decoder.wait() == 0, "ffmpeg could not read the capture tool's frames")
    return hashes


def test_stored_text(build, shots, work, capture):
    log("Nebla.scr /c: a text typed into the box is stored with the autopilot off")
    subprocess.run([WINE, "reg", "delete", r"HKCU\Software\Nebla", "/f"], capture_output=True)
    program = open_settings(build, work)
    try:
        # From the ramp list to the autopilot (off) and into the text box;
        # after the text, Tab leaves the box for OK.
        for key in ("Tab", "Tab", "space", "Tab"):
            xdotool("key", key)
            time.sleep(0.3)
        xdotool("type", "--delay", "40", STORED_TEXT)
        time.sleep(0.3)
        screenshot(os.path.join(shots, "settings-text.png"))
        for key in ("Tab", "Return"):
            xdotool("key", key)
            time.sleep(0.3)
        check(program.wait(15) == 0, "the settings dialog did not end with OK")
    finally:
        program.stop()
    stored = run(WINE, "reg", "query", r"HKCU\Software\Nebla\Screensaver", "/v", "Text")
    check("Smoke over the hills" in stored and "written in the settings" in stored,
          "the text is not stored: %r" % stored)

    log("Nebla.scr /s spells the stored text")
    xdotool("mousemove", "600", "500")
    program = Program(os.path.join(build, "Nebla.scr"), "/s", cwd=work)
    shots_taken = []
    try:
        window("Nebla")
        time.sleep(7)
        for n in (1, 2):
            shots_taken.append(screenshot(os.path.join(shots, "screensaver-text-%d.png" % n)))
            time.sleep(1.5)
        xdotool("key", "a")
        check(program.wait(15) == 0, "the screensaver with a text did not end on a key")
    finally:
        program.stop()
        subprocess.run([WINE, "reg", "delete", r"HKCU\Software\Nebla", "/f"], capture_output=True)
    if capture is None:
        log("no Linux capture tool given: the stored text's frames are not compared")
        return
    text_file = os.path.join(work, "text.txt")
    with open(text_file, "w") as out:
        out.write(STORED_TEXT)
    frames_dir = os.path.join(work, "text-frames")
    os.makedirs(frames_dir)
    hashes = frame_hashes(capture, text_file, frames_dir)
    for n, shot in enumerate(shots_taken, 1):
        lit = lit_pixels(shot, PICTURE)
        seen = hashlib.sha256(picture_pixels(shot, PICTURE, 2, SCREEN_W)).hexdigest() in hashes
        log("screen %d: %d lit pixels, %s the capture tool's frames with the text" %
            (n, lit, "one of" if seen else "none of"))
        check(lit > 200, "screen %d shows no writing (%d lit pixels)" % (n, lit))
        check(seen, "screen %d is not a frame of the program spelling the stored text" % n)


def temporary_log():
    """Nebla.log in the prefix's temporary folder, where Nebla.scr writes it."""
    prefix = os.environ.get("WINEPREFIX") or "%s/nebla-wine-%d" % (
        os.environ.get("TMPDIR", "/tmp"), os.getuid())
    found = glob.glob(os.path.join(prefix, "drive_c/users/*/**/Temp/Nebla.log"), recursive=True)
    return found[0] if found else None


def test_refused_text(build, shots, work):
    log("Nebla.scr: a stored text of 201 pages is refused by OK and, in /s, named in the log")
    # One "a" a page; a REG_SZ with line ends goes in through a .reg file,
    # which, of this version, is UTF-16 with a byte order mark.
    data = ("a\r\n---\r\n" * 201).encode("utf-16-le") + b"\0\0"
    reg_file = os.path.join(work, "long-text.reg")
    with open(reg_file, "w", encoding="utf-16") as out:
        out.write("Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Nebla\\Screensaver]\n"
                  "\"Autopilot\"=dword:00000000\n"
                  "\"Text\"=hex(1):%s\n" % ",".join("%02x" % b for b in data))
    run(WINE, "reg", "import", reg_file)
    program = open_settings(build, work)
    try:
        xdotool("key", "Return")
        said = window("Nebla", timeout=10)
        screenshot(os.path.join(shots, "settings-text-refused.png"))
        xdotool("windowfocus", "--sync", said)
        xdotool("key", "Return")
        time.sleep(0.5)
        check(program.wait(1) is None, "OK closed the dialog on a text of 201 pages")
        xdotool("key", "Escape")
        check(program.wait(15) == 0, "the dialog did not end on Escape")
    finally:
        program.stop()
    check(len(registry_text()) > 1000, "the refused text was not left as it was")

    log_file = temporary_log()
    if log_file:
        os.remove(log_file)
    program = Program(os.path.join(build, "Nebla.scr"), "/s", cwd=work)
    try:
        window("Nebla")
        time.sleep(4)
        written = open(temporary_log() or os.devnull, errors="replace").read()
        check("stored text refused (" in written and "200 pages" in written and
              "using Nebla's own text" in written,
              "the log does not name the refused text: %r" % written[:300])
        shot = screenshot(os.path.join(shots, "screensaver-text-refused.png"))
        check(lit_pixels(shot, PICTURE) > 100, "no text spelt after the refused one")
        xdotool("key", "a")
        check(program.wait(15) == 0, "the screensaver did not end on a key")
    finally:
        program.stop()
        subprocess.run([WINE, "reg", "delete", r"HKCU\Software\Nebla", "/f"], capture_output=True)


def registry_text():
    result = subprocess.run([WINE, "reg", "query", r"HKCU\Software\Nebla\Screensaver", "/v",
                             "Text"], capture_output=True)
    return result.stdout.decode(errors="replace") if result.returncode == 0 else ""


# Xephyr's two monitors side by side: the first shows the picture at twice
# its size, the second, 800 x 600, once with bars of 80 and 60 pixels.
MONITORS_SIZE = (2080, 1024)
FIRST_PICTURE = (0, 32, 1280, 960)
SECOND_PICTURE = (1280 + 80, 60, 640, 480)


def both_pictures(path):
    """A screen where both monitors show the same picture: the two are drawn
    one after the other, so a screenshot can fall between them."""
    for attempt in range(3):
        shot = screenshot(path, MONITORS_SIZE)
        width = MONITORS_SIZE[0]
        if (picture_pixels(shot, FIRST_PICTURE, 2, width) ==
                picture_pixels(shot, SECOND_PICTURE, 1, width)):
            return shot
        time.sleep(0.3)
    raise Failure("the two monitors do not show the same picture")


def test_two_monitors(build, shots, work):
    log("Nebla.scr /s on two monitors: the picture on each, a key ends it")
    outer = os.environ["DISPLAY"]
    prefix = os.environ.get("WINEPREFIX")
    # The monitors are the prefix's desktop's, known from its first start:
    # this one is the two monitors' own.
    os.environ["WINEPREFIX"] = (prefix or os.path.join(work, "wine")) + "-monitors"
    nested = XServer(["Xephyr", "+xinerama", "-extension", "RANDR", "-screen", "1280x1024+0+0",
                      "-screen", "800x600+1280+0", "-nolisten", "tcp", "-noreset"],
                     fixed_display(1))
    scr = os.path.join(build, "Nebla.scr")
    try:
        xdotool("mousemove", "600", "500")
        program = Program(scr, "/s", cwd=work)
        try:
            win = window("Nebla", timeout=60)
            geometry = xdotool("getwindowgeometry", win)
            check("%dx%d" % MONITORS_SIZE in geometry, "not over both monitors: " + geometry)
            time.sleep(8)
            shot = both_pictures(os.path.join(shots, "screensaver-two-monitors.png"))
            width = MONITORS_SIZE[0]
            lit = [lit_pixels(shot, r, width=width) for r in (FIRST_PICTURE, SECOND_PICTURE)]
            log("lit pixels on the two monitors: %s" % lit)
            check(min(lit) > 100, "a monitor shows no smoke: %s" % lit)
            for bar in ((1280, 0, 800, 60), (1280, 60, 80, 480), (0, 0, 1280, 32)):
                check(brightness(shot, bar, width) < 1, "the bar %s is not black" % (bar,))
            xdotool("key", "a")
            check(program.wait(15) == 0, "the screensaver on two monitors did not end on a key")
        finally:
            program.stop()

        log("Nebla.scr /s on two monitors ends on a movement on the second one")
        xdotool("mousemove", "1600", "300")
        program = Program(scr, "/s", cwd=work)
        try:
            window("Nebla")
            time.sleep(3)
            xdotool("mousemove", "1700", "400")
            check(program.wait(15) == 0, "the movement on the second monitor did not end it")
        finally:
            program.stop()
    finally:
        nested.stop()
        os.environ["DISPLAY"] = outer
        if prefix is None:
            del os.environ["WINEPREFIX"]
        else:
            os.environ["WINEPREFIX"] = prefix


def test_preview(build, work):
    for mode, what in (("resize", "its window in the preview follows the size and goes with it"),
                       ("close", "a WM_CLOSE to its window ends it at once"),
                       ("orphan", "its window destroyed while the preview lives ends it")):
        log("Nebla.scr /p: " + what)
        host = subprocess.run([WINE, os.path.join(build, "preview_host.exe"),
                               os.path.join(build, "Nebla.scr"), "2", mode],
                              cwd=work, capture_output=True, timeout=120)
        said = host.stdout.decode(errors="replace").replace("\r", "").strip()
        log("the preview host says: " + " / ".join(said.splitlines()))
        check(host.returncode == 0, "the preview (%s) failed: %s" % (mode, said))


def test_bad_arguments(build, work):
    for args in (["/x"], ["/p"], ["/p", "abc"], ["/p:0"], ["/c", "12x"], ["/sx"], ["hello"]):
        log("Nebla.scr %s ends quietly" % " ".join(args))
        program = Program(os.path.join(build, "Nebla.scr"), *args, cwd=work)
        try:
            status = program.wait(20)
            check(status == 0, "exit status %s for %s" % (status, args))
        finally:
            program.stop()
    found = subprocess.run(["xdotool", "search", "--name", "^Nebla"], capture_output=True)
    check(found.stdout.strip() == b"", "a window is left after damaged arguments")


def main():
    build, shots = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    capture = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
    os.makedirs(shots, exist_ok=True)
    server = XServer(["Xvfb", "-screen", "0", "%dx%dx24" % (SCREEN_W, SCREEN_H), "-nolisten",
                      "tcp", "-noreset"], fixed_display(0))
    try:
        with tempfile.TemporaryDirectory() as work:
            test_window(build, shots, work)
            test_screensaver(build, shots, work)
            test_settings(build, shots, work)
            test_stored_text(build, shots, work, capture)
            test_refused_text(build, shots, work)
            test_two_monitors(build, shots, work)
            test_preview(build, work)
            test_bad_arguments(build, work)
    except Failure as failure:
        print("FAIL: %s" % failure, flush=True)
        return 1
    finally:
        server.stop()
    print("all passed; screenshots in %s" % shots)
    return 0


if __name__ == "__main__":
    sys.exit(main())
