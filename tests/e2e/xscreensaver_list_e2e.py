#!/usr/bin/env python3
"""End-to-end check of `nebla --add-to-xscreensaver` with Debian's real
XScreenSaver, taken as a user takes it, in a virtual X server.

In a fresh home folder without ~/.xscreensaver the step makes the file: the
system's list of programs, every one of them, then Nebla. The daemon started
on that file runs nebla when `xscreensaver-command -select N` picks Nebla's
number, and the smoke shows. The step taken again changes nothing, not even
the file's time. In a home folder the user cannot write, it fails with
status 1 and leaves the file as it was.

Usage: xscreensaver_list_e2e.py PATH_TO_NEBLA
Needs Xvfb, ImageMagick and xscreensaver; as root, runuser (XScreenSaver
starts no programs as root, so the user is nobody).
"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_e2e import smoke_in, wait_for_smoke  # noqa: E402
from nebla_e2e import (SCREEN_H, SCREEN_W, Failure, Placement, XServer, check, log,  # noqa: E402
                       stop_process, wait_until)

APP_DEFAULTS = "/etc/X11/app-defaults/XScreenSaver"


def programs(text, key):
    """The entries of the last `key` list in a resource file, read as
    XScreenSaver reads them: continued lines joined, then `\\n` ends an
    entry; each entry with its blanks squeezed."""
    value = None
    for line in text.replace("\\\n", "").split("\n"):
        name, colon, rest = line.strip().partition(":")
        if colon and name.strip() == key:
            value = rest
    entries = (value or "").replace("\\n", "\n").split("\n")
    return [" ".join(entry.split()) for entry in entries if entry.strip()]


class User:
    """Commands as the user of a home folder: nobody when this runs as root."""

    def __init__(self, home, display, binary):
        self.display = display
        self.prefix = ["runuser", "-u", "nobody", "--"] if os.geteuid() == 0 else []
        # nebla is found on PATH, as an installed one would be in
        # XScreenSaver's programs folder.
        self.env = ["env", "HOME=" + home, "DISPLAY=" + display, "XDG_STATE_HOME=" + os.path.join(home, "state"),
                    "PATH=%s:%s" % (os.path.dirname(binary), os.environ.get("PATH", "/usr/bin:/bin"))]
        self.binary = binary

    def command(self, *args):
        return self.prefix + self.env + list(args)

    def add_to_xscreensaver(self):
        return subprocess.run(self.command(self.binary, "--add-to-xscreensaver"), capture_output=True,
                              text=True, timeout=30)


def home_of(root, name):
    home = os.path.join(root, name)
    os.mkdir(home)
    if os.geteuid() == 0:
        shutil.chown(home, "nobody")
    return home


def runs(binary):
    """Whether a process runs this very file (not another nebla on PATH)."""
    real = os.path.realpath(binary)
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink("/proc/%s/exe" % pid) == real:
                return True
        except OSError:
            pass
    return False


def made_with_nebla(user, path):
    step = user.add_to_xscreensaver()
    check(step.returncode == 0 and "added Nebla" in step.stdout,
          "the first step: status %d, %r %r" % (step.returncode, step.stdout, step.stderr))
    with open(path) as f:
        made = f.read()
    with open(APP_DEFAULTS) as f:
        system = programs(f.read(), "*programs")
    listed = programs(made, "programs")
    check(len(system) > 10 and listed[:-1] == system, "the system's programs are not all kept in order")
    check(listed[-1] == "nebla --root", "the last entry is %r, not Nebla" % listed[-1])
    log("the step: %s (%d programs, Nebla number %d)" % (step.stdout.strip(), len(listed), len(listed)))
    return made, len(listed)


def selected_shows_smoke(user, binary, number, home):
    saver = subprocess.Popen(user.command("xscreensaver", "-no-splash"), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        select = user.command("xscreensaver-command", "-select", str(number))
        wait_until("xscreensaver to take -select %d" % number, 20,
                   lambda: subprocess.run(select, capture_output=True, timeout=10).returncode == 0, 0.5)
        place = Placement(0, 0, SCREEN_W, SCREEN_H, whole=True)
        shot = wait_for_smoke(user.display, place, "xscreensaver-selected", 40)
        check(runs(binary), "the smoke is not from %s" % binary)
        check(os.path.isfile(os.path.join(home, "state", "nebla", "Nebla.log")), "no log in the state folder")
        log("-select %d: nebla runs, the smoke on the screen (%d pixels stand out)"
            % (number, smoke_in(shot, place)))
    finally:
        subprocess.run(user.command("xscreensaver-command", "-exit"), capture_output=True, timeout=10)
        stop_process(saver)


def run_added(binary, display, root):
    home = home_of(root, "list-home")
    path = os.path.join(home, ".xscreensaver")
    user = User(home, display, binary)
    made, number = made_with_nebla(user, path)
    selected_shows_smoke(user, binary, number, home)
    before = os.stat(path)
    again = user.add_to_xscreensaver()
    after = os.stat(path)
    check(again.returncode == 0 and "already" in again.stdout, "the second step: %r" % again.stdout)
    with open(path) as f:
        check(f.read() == made, "the second step changed the file")
    check((after.st_ino, after.st_mtime_ns) == (before.st_ino, before.st_mtime_ns), "the file was written again")
    log("the step again: %s" % again.stdout.strip())


def run_refused(binary, display, root):
    home = home_of(root, "locked-home")
    path = os.path.join(home, ".xscreensaver")
    text = "mode: one\nprograms: qix --root \\n\n"
    with open(path, "w") as f:
        f.write(text)
    os.chmod(home, 0o555)  # the user's file, in a folder where no new file can be made
    try:
        step = User(home, display, binary).add_to_xscreensaver()
    finally:
        os.chmod(home, 0o755)
    check(step.returncode == 1 and "cannot write" in step.stderr and step.stdout == "",
          "an unwritable folder: status %d, %r" % (step.returncode, step.stderr))
    with open(path) as f:
        check(f.read() == text, "the file changed")
    check(os.listdir(home) == [".xscreensaver"], "files left behind: %s" % os.listdir(home))
    log("an unwritable home folder: status 1, %s" % step.stderr.strip())


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    binary = os.path.abspath(sys.argv[1])
    server = None
    try:
        with tempfile.TemporaryDirectory(prefix="nebla-list-") as root:
            os.chmod(root, 0o755)
            server = XServer()
            log("Xvfb on " + server.display)
            run_added(binary, server.display, root)
            run_refused(binary, server.display, root)
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
