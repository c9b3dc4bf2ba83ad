#!/usr/bin/env python3
"""End to end: the Windows programs under Wine in a virtual X server.

nebla.exe opens a full-screen window with the picture at twice its size,
smoke appears under a drag made with xdotool, PrintScreen saves a .bmp,
Alt+Enter gives a window and back, and Escape ends it with status 0, as
does a close request (Alt+F4).
Nebla.scr /s shows the text writer full screen, takes no notice of the
pointer's jitter and ends on a key, and on a real movement; the settings
dialog (/c) stores its choices in the registry, and the screensaver then
starts with them; in a preview window (/p) its window follows the
preview's size and ends when the preview closes, and it ends at once,
without the outro, on a WM_CLOSE to its window or when its window is
destroyed while the preview lives; damaged arguments end it quietly with no
window.

Usage: e2e_wine.py BUILD_DIR SHOTS_DIR
Needs Xvfb, xdotool, ImageMagick and Wine (tests/windows/wine-run).
"""

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


class XServer:
    """Xvfb on the first free display number (Xvfb picks it itself)."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (SCREEN_W, SCREEN_H),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], 30)
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                raise Failure("Xvfb did not start")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()
        os.environ["DISPLAY"] = self.display

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


def screenshot(path):
    run("import", "-window", "root", path)
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                         check=True).stdout
    check(len(raw) == SCREEN_W * SCREEN_H * 3, "unexpected screenshot size")
    return raw


def brightness(raw, rect):
    """Mean of red + green + blue over a rectangle of the screen."""
    x0, y0, w, h = rect
    total = 0
    for y in range(y0, y0 + h, 2):
        row = raw[(y * SCREEN_W + x0) * 3:(y * SCREEN_W + x0 + w) * 3]
        total += sum(row[::6]) + sum(row[1::6]) + sum(row[2::6])
    return total / ((w // 2) * (h // 2))


def lit_pixels(raw, rect, level=60):
    x0, y0, w, h = rect
    count = 0
    for y in range(y0, y0 + h, 2):
        for x in range(x0, x0 + w, 2):
            i = (y * SCREEN_W + x) * 3
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


def test_settings(build, shots, work):
    log("Nebla.scr /c: the settings dialog stores ramp 2 and the light")
    subprocess.run([WINE, "reg", "delete", r"HKCU\Software\Nebla", "/f"], capture_output=True)
    program = Program(os.path.join(build, "Nebla.scr"), "/c", cwd=work)
    try:
        dialog = window("Nebla screensaver")
        time.sleep(1)
        # Without a window manager the keys go where the pointer is.
        xdotool("mousemove", "--window", dialog, "20", "20")
        xdotool("windowfocus", "--sync", dialog)
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
    os.makedirs(shots, exist_ok=True)
    server = XServer()
    try:
        with tempfile.TemporaryDirectory() as work:
            test_window(build, shots, work)
            test_screensaver(build, shots, work)
            test_settings(build, shots, work)
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
