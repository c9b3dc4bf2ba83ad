#!/usr/bin/env python3
"""End-to-end check that the text chosen on Nebla's page in XScreenSaver's
settings reaches nebla run by Debian's real XScreenSaver daemon.

First the real settings page: xscreensaver-settings (6.06), with Nebla's
packaging/nebla.xml bind-mounted over its folder of pages in a mount
namespace of its own (so as root only), is driven with xdotool like a user
would: Nebla's Settings..., words typed into the Words field, a program
into the Program field, "Text: this program's output" chosen, Save. The
entry it writes into ~/.xscreensaver must be the one this test makes from
nebla.xml for the same choices, which checks how the test makes the
others: the fields in the file's order, a select's chosen option as its
arg-set, a text or file field left out when empty and otherwise put in its
arg's % in double quotes when it holds a blank or a character the shell
would take.

Then the daemon, whose list holds entries made that way for each choice
(these words, this program's output, this file, Nebla's own) with every
field filled in, and the one the page saved, runs each by its number with
`xscreensaver-command -select N`; nebla's log in $XDG_STATE_HOME/nebla must
name the text it got: the words, the program (its single quotes, blanks and
pipe kept through both shells), the file, or no text line at all for
Nebla's own, though the other fields are filled in.

The values are short: XScreenSaver wraps a long entry at a blank when it
writes the file, inside quotes too, and reads the blanks of the wrap back
into the value; it also drops any backslash (so \\, " and $ do not survive)
and ends an entry at \\n.

Usage: xscreensaver_text_e2e.py PATH_TO_NEBLA
Needs Xvfb and xscreensaver (exits with 77, skipped, without xscreensaver);
as root, runuser (XScreenSaver starts no programs as root, so the user is
nobody); for the settings page, root, unshare and xdotool (without them
that part is skipped and said so). Uses X displays :180 to :189.
NEBLA_E2E_DAEMON_LOG=FILE keeps the daemon's -verbose output, which shows
each command line it started.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from nebla_e2e import Failure, XServer, check, log, stop_process, wait_until  # noqa: E402
from xscreensaver_list_e2e import User, home_of, programs, runs  # noqa: E402

SETTINGS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "nebla.xml")
SKIPPED = 77

# Programs whose quotes, blanks and pipe must survive the settings page's
# quoting and the shell that XScreenSaver starts nebla with.
PROGRAM = "echo 'a pipe' | rev"
WORDS = "Words from the page"
TYPED_PROGRAM = "echo 'typed' | rev"
TYPED_WORDS = "Typed words"

# Where the settings page keeps its widgets, in pixels from the top left of
# its windows: the main window's Settings... button, and on Nebla's page the
# text select, the Words and Program fields and Save.
SETTINGS_BUTTON = (982, 630)
TEXT_SELECT = (136, 163)
WORDS_FIELD = (191, 205)
PROGRAM_FIELD = (338, 289)
SAVE_BUTTON = (395, 512)


def shell_quoted(value):
    """A field's value as xscreensaver-settings puts it on the command line."""
    escaped = "".join("\\" + c if c in '!"$' else c for c in value)
    plain = value and not any(c in '!"$\'#%&()*' or ord(c) <= 32 or ord(c) >= 127 for c in value)
    return value if plain else '"%s"' % escaped


def fields(element):
    """The page's fields in order, through its hgroups and vgroups."""
    for child in element:
        if child.tag in ("hgroup", "vgroup"):
            yield from fields(child)
        else:
            yield child


def command_line(settings, chosen):
    """The command line for the values in `chosen` (a field's id to its text,
    a select's id to an option's id); the rest keep their defaults."""
    words = []
    for field in fields(settings):
        value = chosen.get(field.get("id"))
        if field.tag == "command":
            words.append(field.get("arg"))
        elif field.tag == "select":
            options = field.findall("option")
            default = next((o for o in options if o.get("arg-set") is None), options[0])
            option = next((o for o in options if o.get("id") == value), default)
            words.append(option.get("arg-set"))
        elif field.tag == "boolean":
            # A box is ticked by default when ticking it adds nothing.
            ticked = value if value is not None else not field.get("arg-set")
            words.append(field.get("arg-set" if ticked else "arg-unset"))
        elif field.tag in ("string", "file") and value:
            words.append(field.get("arg").replace("%", shell_quoted(value)))
    return " ".join(["nebla"] + [w for w in words if w])


def quoted(word):
    """A word as nebla names it in a message (printable ASCII here)."""
    return "'%s'" % word


def write_preferences(home, entries):
    path = os.path.join(home, ".xscreensaver")
    with open(path, "w") as f:
        f.write("mode: one\nselected: %d\nlock: False\nfade: False\nunfade: False\nsplash: False\n"
                "dpmsEnabled: False\nprograms: \\\n%s\n"
                % (len(entries) - 1, "".join("\t%s \\n\\\n" % e for e in entries)))
    if os.geteuid() == 0:
        shutil.chown(path, "nobody")


def xdotool(display, *args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(os.environ, DISPLAY=display),
                          capture_output=True, text=True, timeout=10)


def settings_window(display, small):
    """The settings page's main window (small False) or a hack's page."""
    for window in xdotool(display, "search", "--name", "^XScreenSaver").stdout.split():
        size = xdotool(display, "getwindowgeometry", window).stdout.split("Geometry: ")[-1].strip()
        width = int(size.split("x")[0]) if "x" in size else 0
        if (300 < width < 700) if small else width >= 1000:
            return window
    return None


def click(display, window, place):
    xdotool(display, "mousemove", "--window", window, place[0], place[1], "click", "1")
    time.sleep(0.4)


def settings_page_unavailable():
    """Why xscreensaver-settings cannot be driven here, or None."""
    if os.geteuid() != 0:
        return "it needs root, for a private mount of its folder of pages"
    missing = [p for p in ("xscreensaver-settings", "xdotool", "unshare") if shutil.which(p) is None]
    return "%s not installed" % ", ".join(missing) if missing else None


def save_on_settings_page(user, root, home):
    """Nebla's page of the real xscreensaver-settings, used as a user would:
    Nebla's entries as it saved them."""
    pages = os.path.join(root, "pages")
    os.mkdir(pages)
    shutil.copy(SETTINGS, pages)
    mount = 'mount --bind "$0" /usr/share/xscreensaver/config && exec "$@"'
    page = subprocess.Popen(["unshare", "-m", "sh", "-c", mount, pages] + user.command("xscreensaver-settings"),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    path = os.path.join(home, ".xscreensaver")
    try:
        main_window = wait_until("the settings window", 30, lambda: settings_window(user.display, False))
        time.sleep(1)
        click(user.display, main_window, SETTINGS_BUTTON)
        page_window = wait_until("Nebla's settings page", 20, lambda: settings_window(user.display, True))
        xdotool(user.display, "windowmove", page_window, 100, 100)
        xdotool(user.display, "windowfocus", page_window)
        time.sleep(0.5)
        click(user.display, page_window, WORDS_FIELD)
        xdotool(user.display, "type", "--delay", 20, TYPED_WORDS)
        click(user.display, page_window, PROGRAM_FIELD)
        xdotool(user.display, "type", "--delay", 20, TYPED_PROGRAM)
        click(user.display, page_window, TEXT_SELECT)
        xdotool(user.display, "key", "Down", "Down", "Down", "Return")
        time.sleep(0.4)
        click(user.display, page_window, SAVE_BUTTON)
        wait_until("the page to save", 20, lambda: "typed" in open(path).read())
    finally:
        if page.poll() is None:
            os.killpg(page.pid, signal.SIGTERM)
        page.wait(timeout=10)
    # The page also writes out the system's programs that the list lacked.
    with open(path) as f:
        return [entry for entry in programs(f.read(), "programs") if entry.startswith("nebla ")]


def text_lines(log_file):
    """The log's lines about the text, once nebla has opened the log."""
    try:
        with open(log_file) as f:
            lines = f.read().splitlines()
    except FileNotFoundError:
        return None
    return [line for line in lines if line.startswith("text: ")]


def selected_gets(user, binary, number, log_file, expected):
    """nebla run by the daemon as entry `number` names `expected` (None:
    no text line) at the head of its log."""
    if os.path.exists(log_file):
        os.remove(log_file)
    select = user.command("xscreensaver-command", "-select", str(number))
    wait_until("xscreensaver to take -select %d" % number, 20,
               lambda: subprocess.run(select, capture_output=True, timeout=10).returncode == 0, 0.5)
    lines = wait_until("nebla's log for entry %d" % number, 40, lambda: text_lines(log_file) is not None)
    time.sleep(0.5)
    lines = text_lines(log_file)
    check(runs(binary), "entry %d: %s does not run" % (number, binary))
    check(lines == ([] if expected is None else [expected]),
          "entry %d: the log's text lines are %r, not %r" % (number, lines, expected))
    log("-select %d: %s" % (number, expected or "Nebla's own text, no text line"))


def assigned_x_server():
    for number in range(180, 190):
        try:
            return XServer(number)
        except Failure:
            pass
    raise Failure("no free X display from :180 to :189")


def made_entries(settings, home):
    """An entry made from nebla.xml for each choice, with every field filled
    in, and the text line each must give in nebla's log."""
    words_file = os.path.join(home, "words.txt")
    with open(words_file, "w") as f:
        f.write("Words from a file\n")
    filled = {"literal": WORDS, "program": PROGRAM, "file": words_file}
    entries = [command_line(settings, dict(filled, text=choice))
               for choice in ("textLiteral", "textProgram", "textFile", "textOwn")]
    expected = ["text: 1 page from the words given", "text: 1 page from the program " + quoted(PROGRAM),
                "text: 1 page from the file " + quoted(words_file), None]
    return entries, expected


def check_choices(binary, settings, root, display, daemon_log):
    home = home_of(root, "text-home")
    entries, expected = made_entries(settings, home)
    # The last entry is Nebla as --add-to-xscreensaver lists it, for the
    # settings page to change.
    write_preferences(home, entries + ["nebla --root"])
    user = User(home, display, binary)
    saver = subprocess.Popen(user.command("xscreensaver", "-no-splash", "-verbose"), stdout=daemon_log,
                             stderr=daemon_log, start_new_session=True)
    try:
        version = user.command("xscreensaver-command", "-version")
        wait_until("the daemon", 20,
                   lambda: subprocess.run(version, capture_output=True, timeout=10).returncode == 0, 0.5)
        why_not = settings_page_unavailable()
        if why_not:
            log("skipped driving xscreensaver-settings: " + why_not)
        else:
            saved = save_on_settings_page(user, root, home)
            typed = command_line(settings, {"text": "textProgram", "literal": TYPED_WORDS,
                                            "program": TYPED_PROGRAM})
            log("the settings page saved: " + saved[-1])
            check(saved[-1] == typed, "the settings page saved %r, not %r" % (saved[-1], typed))
            check(saved[:-1] == [" ".join(e.split()) for e in entries],
                  "the settings page changed the other entries: %r" % saved[:-1])
            entries.append(typed)
            expected.append("text: 1 page from the program " + quoted(TYPED_PROGRAM))
        log_file = os.path.join(home, "state", "nebla", "Nebla.log")
        for number, (entry, line) in enumerate(zip(entries, expected), 1):
            log("entry %d: %s" % (number, entry))
            selected_gets(user, binary, number, log_file, line)
    finally:
        subprocess.run(user.command("xscreensaver-command", "-exit"), capture_output=True, timeout=10)
        stop_process(saver)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if shutil.which("xscreensaver") is None or shutil.which("xscreensaver-command") is None:
        print("[e2e] skipped: xscreensaver is not installed (Debian package xscreensaver)", flush=True)
        return SKIPPED
    binary = os.path.abspath(sys.argv[1])
    settings = ET.parse(SETTINGS).getroot()
    server = None
    try:
        with tempfile.TemporaryDirectory(prefix="nebla-text-") as root, \
                open(os.environ.get("NEBLA_E2E_DAEMON_LOG", os.devnull), "w") as daemon_log:
            os.chmod(root, 0o755)
            server = assigned_x_server()
            log("Xvfb on " + server.display)
            check_choices(binary, settings, root, server.display, daemon_log)
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
