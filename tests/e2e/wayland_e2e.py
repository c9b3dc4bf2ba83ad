#!/usr/bin/env python3
"""End-to-end checks of nebla on Wayland, in a headless sway.

The live wallpaper: nebla --wallpaper on two outputs (one added while it
runs), each showing the picture at its largest whole multiple, centred,
black around, with smoke moving; an output's new scale followed; its log
under XDG_STATE_HOME; SIGTERM ending it with status 0 in under a second.
--output NAME draws on that output only, and SIGINT ends it with status 0.
An output that a full-screen window covers is not drawn on while the
other is, and is drawn on again when the window goes.
In a sway whose outputs are windows of another sway, an output taken away
while it runs: the other goes on at its new size; then the compositor's
exit ends it with status 0. A Wayland display that cannot be reached
gets status 1, and a compositor without the layer-shell protocol (a
stand-in for GNOME's) status 2.
The window: nebla with a Wayland display and no X display runs as a native
Wayland client, full screen, showing the picture; Alt+Enter takes it out of
full screen and back, and Escape ends it with status 0 after the outro. The
keys come from a virtual keyboard (the zwp_virtual_keyboard_v1 protocol,
spoken by this script), since a headless sway has no input devices.

Usage: wayland_e2e.py PATH_TO_NEBLA
Needs sway, grim and ImageMagick; as root, runuser (sway refuses to run as
root, so it and its clients run as nobody). Exits 77 (skipped) when sway or
grim is missing.
"""

import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from nebla_e2e import IMAGE_H, IMAGE_W, RAMP1_ENTRY1, Failure, check, log, read_png, wait_until  # noqa: E402

SKIP = 77
BLACK = (0, 0, 0)


# ---- the compositor ------------------------------------------------------


class Sway:
    """A headless sway with its own runtime directory, as nobody when run as
    root; its first output is 1280 x 800 (1920 x 1080 for a parent). Given
    a parent, a sway whose outputs are windows of the parent's: closing
    such a window takes the output away, as unplugging a monitor does."""

    def __init__(self, root, parent=None, first_output="1280x800"):
        self.root = root
        self.runtime = os.path.join(root, "run")
        self.home = os.path.join(root, "home")
        os.makedirs(self.runtime, mode=0o700)
        os.makedirs(self.home)
        config = os.path.join(root, "sway.config")
        with open(config, "w") as f:
            f.write("output HEADLESS-1 resolution %s\n" % first_output)
        self.as_nobody = os.geteuid() == 0
        if self.as_nobody:
            shutil.chown(root, "nobody")
            for path in (self.runtime, self.home):
                shutil.chown(path, "nobody")
            os.chmod(root, 0o755)
        env = dict(self.base_env(), WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                   WLR_RENDERER="pixman")
        if parent:
            env.update(WLR_BACKENDS="wayland", WAYLAND_DISPLAY=os.path.join(parent.runtime, parent.socket))
        self.log_file = open(os.path.join(root, "sway.log"), "wb")
        self.proc = subprocess.Popen(self.command(["sway", "-c", config], env), stdout=self.log_file,
                                     stderr=subprocess.STDOUT)
        self.socket = wait_until("sway's socket", 15, self.find_socket, 0.1)

    def base_env(self):
        return {"PATH": "/usr/bin:/bin", "HOME": self.home, "XDG_RUNTIME_DIR": self.runtime}

    def command(self, args, env):
        prefix = ["runuser", "-u", "nobody", "--"] if self.as_nobody else []
        return prefix + ["env", "-i"] + ["%s=%s" % item for item in env.items()] + args

    def find_socket(self):
        check(self.proc.poll() is None, "sway ended at start: see %s/sway.log" % self.root)
        names = os.listdir(self.runtime)
        ipc = [n for n in names if n.startswith("sway-ipc.")]
        if "wayland-1" in names and ipc:
            self.ipc = os.path.join(self.runtime, ipc[0])
            return "wayland-1"
        return None

    def client_env(self, **extra):
        return dict(self.base_env(), WAYLAND_DISPLAY=self.socket, SWAYSOCK=self.ipc, **extra)

    def run(self, *args, timeout=15):
        result = subprocess.run(self.command(list(args), self.client_env()), capture_output=True,
                                timeout=timeout)
        check(result.returncode == 0, "%s failed: %s" % (" ".join(args), result.stderr.decode(errors="replace")))
        return result.stdout

    def msg(self, *args):
        return json.loads(self.run("swaymsg", "-r", *args) or b"null")

    def outputs(self):
        return {o["name"]: o for o in self.msg("-t", "get_outputs") if o.get("active")}

    def shot(self, output, name=None):
        path = os.path.join(self.root, "%s.png" % (name or output))
        self.run("grim", "-o", output, path)
        if name:
            keep_file(path, name)
        return read_png(path)

    def start(self, args, workdir, **env):
        """A client, with its standard error in a file of the work folder."""
        err = open(os.path.join(workdir, "stderr.txt"), "wb")
        proc = subprocess.Popen(self.command(list(args), self.client_env(**env)), cwd=workdir,
                                stdout=subprocess.DEVNULL, stderr=err)
        proc.stderr_path = err.name
        return proc

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log_file.close()


def keep_file(path, name):
    """Keeps a screenshot when NEBLA_E2E_SHOTS names a folder."""
    folder = os.environ.get("NEBLA_E2E_SHOTS")
    if folder:
        os.makedirs(folder, exist_ok=True)
        shutil.copy(path, os.path.join(folder, name + ".png"))


def workdir(root, name):
    path = os.path.join(root, name)
    os.makedirs(path)
    if os.geteuid() == 0:
        shutil.chown(path, "nobody")
    return path


def program_pid(proc):
    """The program's own process: under runuser, its child."""
    if os.geteuid() != 0:
        return proc.pid
    def child():
        try:
            with open("/proc/%d/task/%d/children" % (proc.pid, proc.pid)) as f:
                pids = f.read().split()
            return int(pids[0]) if pids else None
        except OSError:
            return None
    return wait_until("nebla's process", 5, child, 0.05)


def stderr_of(proc):
    with open(proc.stderr_path, "rb") as f:
        return f.read().decode(errors="replace")


def finish(proc):
    if proc.poll() is None:
        try:
            os.kill(program_pid(proc), signal.SIGKILL)
        except (OSError, Failure):
            pass
        proc.wait(timeout=5)


# ---- what the screenshots must show --------------------------------------


def whole_multiple(width, height):
    """Where the picture lies on an output of this many pixels."""
    factor = max(1, min(width // IMAGE_W, height // IMAGE_H))
    w, h = IMAGE_W * factor, IMAGE_H * factor
    return (width - w) // 2, (height - h) // 2, w, h


def placed(shot):
    """True when the picture fills exactly the largest whole multiple,
    centred: its corners show the ramp's background, and the rows and
    columns just outside are black. A picture scaled otherwise, or not
    drawn, fails one of them."""
    x, y, w, h = whole_multiple(shot.width, shot.height)
    inside = [(x, y), (x + w - 1, y), (x, y + h - 1), (x + w - 1, y + h - 1)]
    outside = [(x - 1, y + h // 2), (x + w, y + h // 2), (x + w // 2, y - 1), (x + w // 2, y + h)]
    outside = [(a, b) for a, b in outside if 0 <= a < shot.width and 0 <= b < shot.height]
    return all(shot.pixel(a, b) != BLACK for a, b in inside) and \
        all(shot.pixel(a, b) == BLACK for a, b in outside)


def smoke(shot):
    """How many distinct colours the picture shows (sampled): smoke is
    many shades, an empty picture one."""
    x, y, w, h = whole_multiple(shot.width, shot.height)
    return len({shot.pixel(x + i * w // 64, y + j * h // 48) for i in range(64) for j in range(48)})


def shows_smoke(sway, output, name=None):
    shot = sway.shot(output, name)
    return shot if placed(shot) and smoke(shot) >= 8 else None


def moving(sway, output):
    """Two screenshots a second apart differ: the frames go on."""
    first = sway.shot(output)
    time.sleep(1)
    return first.data != sway.shot(output).data


# ---- the live wallpaper --------------------------------------------------


def run_wallpaper(binary, sway, root):
    """Two outputs, the second added while it runs and then given a new
    scale; the log where a desktop program keeps its state; SIGTERM."""
    work = workdir(root, "wallpaper")
    state = workdir(root, "state")
    proc = sway.start([binary, "--wallpaper"], work, XDG_STATE_HOME=state)
    try:
        wait_until("the picture on HEADLESS-1", 20, lambda: placed(sway.shot("HEADLESS-1")), 0.3)
        sway.msg("create_output")
        outputs = sway.outputs()
        check(set(outputs) == {"HEADLESS-1", "HEADLESS-2"}, "outputs: %s" % sorted(outputs))
        for output in ("HEADLESS-1", "HEADLESS-2"):
            wait_until("smoke on " + output, 20, lambda o=output: shows_smoke(sway, o, "wallpaper-" + o), 0.3)
            check(moving(sway, output), "the picture on %s does not change" % output)
        log("both outputs show the picture, moving")
        # At scale 3 the 1920 x 1080 output is 640 x 360 in surface units: a
        # picture that ignored the scale would be shrunk to fit that, not
        # drawn at twice its size.
        sway.msg("output", "HEADLESS-2", "scale", "3")
        wait_until("the picture doubled on HEADLESS-2 at scale 3", 10,
                   lambda: shows_smoke(sway, "HEADLESS-2", "wallpaper-scale3"), 0.3)
        log("a new scale is followed")
        state_log = os.path.join(state, "nebla", "Nebla.log")
        check(os.path.exists(state_log), "no log in XDG_STATE_HOME/nebla")
        check(not os.path.exists(os.path.join(work, "Nebla.log")), "a log in the working directory")
        with open(state_log) as f:
            logged = f.read()
        # Nobody can press a key on a wallpaper: the writer leaves out the
        # pages that teach them.
        check("text: the writer's own, without the pages that teach keys" in logged,
              "the wallpaper's text is not the one without key pages:\n" + logged)
        os.kill(program_pid(proc), signal.SIGTERM)
        sent = time.monotonic()
        status = proc.wait(timeout=5)
        took = time.monotonic() - sent
        log("SIGTERM: status %d after %.3f s" % (status, took))
        check(status == 0 and took < 1.0, "SIGTERM gave status %d after %.2f s" % (status, took))
    finally:
        finish(proc)


def run_hidden_output(binary, sway, root):
    """An output whose background a full-screen window covers gets no
    drawing (the compositor calls no frame back for it) while the other
    output's goes on; once the window is gone, drawing there resumes. The
    surfaces' commits are counted in libwayland's own trace of the
    program's requests (WAYLAND_DEBUG)."""
    sway.msg("create_output")
    work = workdir(root, "wallpaper")
    proc = sway.start([binary, "--wallpaper"], work, XDG_STATE_HOME=work, WAYLAND_DEBUG="1")
    window = None
    try:
        for output in ("HEADLESS-1", "HEADLESS-2"):
            wait_until("the picture on " + output, 20, lambda o=output: placed(sway.shot(o)), 0.3)
        window = sway.start([binary], workdir(root, "window"), ASAN_OPTIONS="detect_leaks=0")
        covered = wait_until("the full-screen window", 15, lambda: window_output(sway), 0.2)
        other = ({"HEADLESS-1", "HEADLESS-2"} - {covered}).pop()
        time.sleep(1)
        hidden = commits_during(proc, 2)
        finish(window)
        time.sleep(1)
        shown = commits_during(proc, 2)
        log("commits in 2 s with %s covered: %s; uncovered: %s" % (covered, hidden, shown))
        check(hidden.get(covered, 0) <= 1, "%s was drawn on while covered: %s" % (covered, hidden))
        check(hidden.get(other, 0) >= 10, "%s was not drawn on while %s was covered: %s" % (other, covered, hidden))
        check(shown.get(covered, 0) >= 10, "drawing on %s did not resume: %s" % (covered, shown))
    finally:
        if window:
            finish(window)
        finish(proc)


def window_output(sway):
    """The output whose workspace holds nebla's full-screen window."""
    def search(node, output):
        output = node["name"] if node.get("type") == "output" else output
        if node.get("pid") and node.get("shell") and node.get("fullscreen_mode") == 1:
            return output
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            found = search(child, output)
            if found:
                return found
        return None
    return search(sway.msg("-t", "get_tree"), None)


def commits_during(proc, seconds):
    """How often each output's wallpaper surface was committed in the next
    seconds, by output name, from the trace on standard error."""
    start = os.path.getsize(proc.stderr_path)
    time.sleep(seconds)
    with open(proc.stderr_path, "rb") as f:
        trace = f.read().decode(errors="replace")
    names = dict(re.findall(r'wl_output@(\d+)\.name\("([^"]+)"\)', trace))
    surfaces = {surface: names.get(output) for surface, output in re.findall(
        r"get_layer_surface\(new id zwlr_layer_surface_v1@\d+, wl_surface@(\d+), wl_output@(\d+)", trace)}
    counts = {}
    for surface in re.findall(r"wl_surface@(\d+)\.commit\(\)", trace[start:]):
        counts[surfaces.get(surface)] = counts.get(surfaces.get(surface), 0) + 1
    return counts


def run_output_removed(binary, sway, root):
    """An output taken away while the wallpaper runs: the others go on and
    follow their new size. Then the compositor's exit ends the program with
    status 0."""
    inner = Sway(os.path.join(root, "inner"), parent=sway)
    try:
        inner.msg("create_output")
        check(set(inner.outputs()) == {"WL-1", "WL-2"}, "outputs: %s" % sorted(inner.outputs()))
        state = workdir(root, "state")
        proc = inner.start([binary, "--wallpaper"], workdir(root, "work"), XDG_STATE_HOME=state)
        try:
            for output in ("WL-1", "WL-2"):
                wait_until("the picture on " + output, 20, lambda o=output: placed(inner.shot(o)), 0.3)
            before = inner.outputs()["WL-1"]["rect"]
            sway.msg('[title="wlroots - WL-2"]', "kill")
            wait_until("WL-2 gone", 5, lambda: "WL-2" not in inner.outputs())
            after = wait_until("WL-1 resized", 5, lambda: (lambda r: r != before and r)(inner.outputs()["WL-1"]["rect"]))
            log("WL-2 taken away; WL-1 from %dx%d to %dx%d" % (before["width"], before["height"],
                                                                after["width"], after["height"]))
            wait_until("the picture on WL-1 at its new size", 10,
                       lambda: (lambda s: s and s.width == after["width"] and s)(shows_smoke(inner, "WL-1")), 0.3)
            check(moving(inner, "WL-1"), "WL-1 stopped changing when WL-2 went")
            check(proc.poll() is None, "nebla ended when an output went: %s" % stderr_of(proc))
            # sway leaves before it answers the exit command.
            subprocess.run(inner.command(["swaymsg", "exit"], inner.client_env()), capture_output=True, timeout=15)
            status = proc.wait(timeout=10)
            log("compositor exit: status %d: %s" % (status, stderr_of(proc).strip()))
            check(status == 0, "status %d after the compositor's exit" % status)
            check("compositor closed the connection" in stderr_of(proc), "the end is not told")
            with open(os.path.join(state, "nebla", "Nebla.log")) as f:
                check("the Wayland compositor closed the connection; ending" in f.read(),
                      "the log does not tell why the wallpaper ended")
        finally:
            finish(proc)
    finally:
        inner.stop()


def run_one_output(binary, sway, root):
    """--output NAME draws on that output only; SIGINT ends it with
    status 0."""
    sway.msg("create_output")
    proc = sway.start([binary, "--wallpaper", "--output", "HEADLESS-2"], workdir(root, "work"),
                      XDG_STATE_HOME=workdir(root, "state"))
    try:
        wait_until("the picture on HEADLESS-2", 20, lambda: placed(sway.shot("HEADLESS-2")), 0.3)
        check(not placed(sway.shot("HEADLESS-1")), "--output HEADLESS-2 drew on HEADLESS-1 too")
        os.kill(program_pid(proc), signal.SIGINT)
        status = proc.wait(timeout=5)
        check(status == 0, "SIGINT gave status %d" % status)
    finally:
        finish(proc)


def run_unreachable(binary, root):
    """A Wayland display that cannot be reached: status 1, named."""
    env = dict(os.environ, WAYLAND_DISPLAY="wayland-none", XDG_RUNTIME_DIR=root)
    env.pop("DISPLAY", None)
    result = subprocess.run([binary, "--wallpaper"], env=env, capture_output=True, timeout=10)
    err = result.stderr.decode(errors="replace")
    check(result.returncode == 1 and "cannot connect to the Wayland display wayland-none" in err,
          "unreachable display: status %d: %s" % (result.returncode, err))


def run_without_layer_shell(binary, root):
    """A compositor that offers no layer-shell protocol, as GNOME's does not
    (here a stand-in that speaks just enough of the wire protocol to list
    its globals): status 2 and the reason."""
    path = os.path.join(root, "wayland-gnome")
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(1)
    env = dict(os.environ, WAYLAND_DISPLAY=path)
    env.pop("DISPLAY", None)
    proc = subprocess.Popen([binary, "--wallpaper"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        server.settimeout(10)
        connection, _ = server.accept()
        serve_globals(connection, [("wl_compositor", 5), ("wl_shm", 1), ("wl_output", 4), ("xdg_wm_base", 5)])
        err = proc.communicate(timeout=10)[1].decode(errors="replace")
    finally:
        if proc.poll() is None:
            proc.kill()
        server.close()
    log("without layer-shell: status %d: %s" % (proc.returncode, err.strip()))
    check(proc.returncode == 2 and "cannot show a live wallpaper on the Wayland display" in err and "layer-shell" in err,
          "without layer-shell: status %d: %s" % (proc.returncode, err))


def serve_globals(connection, globals_):
    """Answers get_registry with these globals and every sync at once, and
    takes no other request, until the client leaves."""
    buffer = b""
    connection.settimeout(10)
    while True:
        data = connection.recv(65536)
        if not data:
            return
        buffer += data
        while len(buffer) >= 8 and len(buffer) >= struct.unpack_from("<I", buffer, 4)[0] >> 16:
            obj, size_op = struct.unpack_from("<II", buffer)
            body, buffer = buffer[8:size_op >> 16], buffer[size_op >> 16:]
            if obj != 1:
                continue
            new_id = struct.unpack_from("<I", body)[0]
            if size_op & 0xffff == 1:  # get_registry
                for name, (interface, version) in enumerate(globals_, 1):
                    text = interface.encode() + b"\0"
                    args = struct.pack("<II", name, len(text)) + text + b"\0" * (-len(text) % 4) + \
                        struct.pack("<I", version)
                    connection.sendall(struct.pack("<II", new_id, (8 + len(args)) << 16) + args)
            else:  # sync: the callback's done, then its id is free again
                connection.sendall(struct.pack("<III", new_id, 12 << 16, 1) +
                                   struct.pack("<III", 1, 12 << 16 | 1, new_id))


# ---- the window ------------------------------------------------------------


class VirtualKeyboard:
    """A keyboard made by a client (zwp_virtual_keyboard_v1), spoken on the
    wire: the registry, the seat, the manager, one keyboard with a small
    keymap of its own. Key codes are the kernel's (xkb's less 8)."""

    ESC, ENTER, LEFTALT = 1, 28, 56
    KEYMAP = b"""xkb_keymap {
  xkb_keycodes "nebla" { minimum = 8; maximum = 255; <ESC> = 9; <RTRN> = 36; <LALT> = 64; };
  xkb_types "nebla" {
    virtual_modifiers Alt;
    type "ONE_LEVEL" { modifiers = none; level_name[Level1] = "Any"; };
  };
  xkb_compat "nebla" { };
  xkb_symbols "nebla" {
    key <ESC> { [ Escape ] };
    key <RTRN> { [ Return ] };
    key <LALT> { [ Alt_L ] };
    modifier_map Mod1 { <LALT> };
  };
};
\0"""

    def __init__(self, sway):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(os.path.join(sway.runtime, sway.socket))
        self.buffer = b""
        self.send(1, 1, struct.pack("<I", 2))  # wl_display.get_registry -> 2
        globals_ = {}
        self.sync(lambda obj, op, body: globals_.update(self.global_(obj, op, body)))
        check("zwp_virtual_keyboard_manager_v1" in globals_, "sway offers no virtual keyboard")
        self.bind(globals_["wl_seat"], "wl_seat", 1, 4)
        self.bind(globals_["zwp_virtual_keyboard_manager_v1"], "zwp_virtual_keyboard_manager_v1", 1, 5)
        self.send(5, 0, struct.pack("<II", 4, 6))  # create_virtual_keyboard(seat) -> 6
        fd = os.memfd_create("keymap")
        os.write(fd, self.KEYMAP)
        self.send(6, 0, struct.pack("<II", 1, len(self.KEYMAP)), fds=[fd])  # keymap(xkb_v1, fd, size)
        os.close(fd)
        self.sync(lambda *_: None)
        self.time = 0

    @staticmethod
    def global_(obj, op, body):
        if obj != 2 or op != 0:
            return {}
        name, length = struct.unpack_from("<II", body)
        return {body[8:8 + length - 1].decode(): name}

    def send(self, obj, opcode, body, fds=()):
        header = struct.pack("<II", obj, (8 + len(body)) << 16 | opcode)
        ancillary = [(socket.SOL_SOCKET, socket.SCM_RIGHTS, struct.pack("<%di" % len(fds), *fds))] if fds else []
        self.sock.sendmsg([header + body], ancillary)

    def bind(self, name, interface, version, new_id):
        text = interface.encode() + b"\0"
        padded = text + b"\0" * (-len(text) % 4)
        self.send(2, 0, struct.pack("<II", name, len(text)) + padded + struct.pack("<II", version, new_id))

    def sync(self, on_event):
        """A round trip (callback object 3, reused once done), handing
        every event on the way to on_event."""
        self.send(1, 0, struct.pack("<I", 3))
        while True:
            while len(self.buffer) < 8 or len(self.buffer) < (struct.unpack_from("<I", self.buffer, 4)[0] >> 16):
                data = self.sock.recv(65536)
                check(data, "sway closed the virtual keyboard's connection")
                self.buffer += data
            obj, size_op = struct.unpack_from("<II", self.buffer)
            size = size_op >> 16
            body, self.buffer = self.buffer[8:size], self.buffer[size:]
            if obj == 1 and size_op & 0xffff == 0:
                raise Failure("protocol error from sway: %r" % body)
            if obj == 3:
                return
            on_event(obj, size_op & 0xffff, body)

    def key(self, code, pressed):
        self.time += 20
        self.send(6, 1, struct.pack("<III", self.time, code, 1 if pressed else 0))
        self.sync(lambda *_: None)

    def press(self, *codes, hold=0.05):
        for code in codes:
            self.key(code, True)
            time.sleep(hold)
        for code in reversed(codes):
            self.key(code, False)


def nebla_window(sway):
    def find(node):
        if node.get("pid") and node.get("shell"):
            return node
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            found = find(child)
            if found:
                return found
        return None
    return find(sway.msg("-t", "get_tree"))


def run_window(binary, sway, root):
    """With WAYLAND_DISPLAY and no DISPLAY, nebla is a Wayland window."""
    work = workdir(root, "window")
    # Under the sanitizers, the leak report at exit lists SDL's, libwayland's
    # and the OpenGL driver's own allocations and would turn the exit
    # status; memory errors still fail the run. The wallpaper, which is the
    # program's own code on libwayland alone, keeps its leak check.
    proc = sway.start([binary], work, ASAN_OPTIONS="detect_leaks=0")
    try:
        window = wait_until("nebla's window", 15, lambda: nebla_window(sway), 0.2)
        log("window: shell %s, full screen %s" % (window["shell"], window["fullscreen_mode"]))
        check(window["shell"] == "xdg_shell", "not a native Wayland window: %s" % window["shell"])
        check(window["fullscreen_mode"] == 1, "not full screen")
        left, right = wait_until("the picture in the window", 15,
                                 lambda: picture_span(sway.shot("HEADLESS-1", "window")), 0.3)
        log("the picture spans x %d to %d of 1280" % (left, right))
        check(right - left >= IMAGE_W and abs(left - (1280 - right)) <= 1, "the picture is not centred and enlarged")
        keyboard = VirtualKeyboard(sway)
        # The window learns of the new keyboard (the seat's capabilities,
        # its keymap, the focus) on its own time; keys sent before then
        # are lost.
        time.sleep(1)
        keyboard.press(keyboard.LEFTALT, keyboard.ENTER)
        wait_until("a window after Alt+Enter", 5, lambda: nebla_window(sway)["fullscreen_mode"] == 0, 0.2)
        keyboard.press(keyboard.LEFTALT, keyboard.ENTER)
        wait_until("full screen after Alt+Enter", 5, lambda: nebla_window(sway)["fullscreen_mode"] == 1, 0.2)
        log("Alt+Enter: out of full screen and back")
        # The program looks whether Escape is down on each pass of its loop;
        # a window whose events come late (a software renderer) sees a short
        # tap's press and release at once, and the tap must still count.
        keyboard.press(keyboard.ESC, hold=0.02)
        status = wait_until("the end after Escape and the outro", 20, lambda: proc.poll() is not None and
                            (proc.returncode,), 0.2)[0]
        log("Escape: status %d" % status)
        check(status == 0, "status %d after Escape: %s" % (status, stderr_of(proc)))
    finally:
        finish(proc)


def picture_span(shot):
    """Where the picture's background (the first colour ramp's entry 1,
    which the smoke has not reached at the top) lies along a row near the
    top of the picture; None when it is not there, as before the window's
    first frame, when the compositor's grey shows."""
    y = (shot.height - IMAGE_H) // 2 + 3 if shot.height < 2 * IMAGE_H else shot.height // 2 - IMAGE_H + 3
    xs = [x for x in range(shot.width) if shot.pixel(x, y) == RAMP1_ENTRY1]
    return (xs[0], xs[-1] + 1) if len(xs) > IMAGE_W // 2 else None


def main():
    if len(sys.argv) != 2:
        print("usage: wayland_e2e.py PATH_TO_NEBLA", file=sys.stderr)
        return 2
    missing = [tool for tool in ("sway", "swaymsg", "grim", "convert") if shutil.which(tool) is None]
    if missing:
        print("skipped: %s not installed (scripts/install-deps test installs it)" % ", ".join(missing))
        return SKIP
    binary = os.path.abspath(sys.argv[1])
    root = tempfile.mkdtemp(prefix="wl-test-")
    os.chmod(root, 0o755)  # nobody's sway and clients reach their folders
    try:
        for case in (run_wallpaper, run_window, run_one_output, run_hidden_output, run_output_removed):
            first = "1920x1080" if case is run_output_removed else "1280x800"
            sway = Sway(os.path.join(root, case.__name__), first_output=first)
            began = time.monotonic()
            try:
                log(case.__name__)
                case(binary, sway, sway.root)
            finally:
                sway.stop()
            log("%s: %.1f s" % (case.__name__, time.monotonic() - began))
        run_unreachable(binary, root)
        run_without_layer_shell(binary, root)
    except Failure as failure:
        print("FAIL: %s (files in %s)" % (failure, root), file=sys.stderr)
        return 1
    shutil.rmtree(root, ignore_errors=True)
    print("wayland e2e: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
