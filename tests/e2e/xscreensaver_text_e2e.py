#!/usr/bin/env python3
"""End-to-end check that the text chosen on Nebla's page in XScreenSaver's
settings reaches nebla run by Debian's real XScreenSaver daemon.

The command lines are made from packaging/nebla.xml the way
xscreensaver-settings 6.06 makes them: the fields in the file's order, a
select's chosen option as its arg-set, a text or file field left out when
empty and otherwise put in its arg's % wrapped in double quotes with
!, " and $ escaped when it holds anything the shell would split or
expand. Three entries go into ~/.xscreensaver's programs, written as the
settings page writes them (as they are: XScreenSaver drops a backslash when
it reads the file back, so a program with \\, " or $ does not survive the
trip, and \\n ends the entry), each with words typed into every field and a
different source chosen: these words, this program's output, this file
and Nebla's own. The daemon runs each by its number with
`xscreensaver-command -select N`, and nebla's log in $XDG_STATE_HOME/nebla
names the text it got: the words, the program (its single quotes, spaces
and pipe kept through both shells), the file (a space in its name), or no
text line at all for Nebla's own, though the other fields are filled in.

Usage: xscreensaver_text_e2e.py PATH_TO_NEBLA
Needs Xvfb and xscreensaver (exits with 77, skipped, without xscreensaver);
as root, runuser (XScreenSaver starts no programs as root, so the user is
nobody). Uses X displays :180 to :189. NEBLA_E2E_DAEMON_LOG=FILE keeps the
daemon's -verbose output, which shows each command line it started.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from nebla_e2e import Failure, XServer, check, log, stop_process, wait_until  # noqa: E402
from xscreensaver_list_e2e import User, home_of, runs  # noqa: E402

SETTINGS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "nebla.xml")
SKIPPED = 77

# A program whose quotes, spaces and pipe must survive the settings page's
# quoting and the shell that XScreenSaver starts nebla with.
PROGRAM = "echo 'smoke, from a program' | tr a-z A-Z"
WORDS = "Words from the settings page"


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
        f.write("mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\nsplash: False\n"
                "dpmsEnabled: False\nprograms: \\\n%s\n" % "".join("\t%s \\n\\\n" % e for e in entries))
    if os.geteuid() == 0:
        shutil.chown(path, "nobody")


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
    saver = None
    daemon_log = open(os.environ.get("NEBLA_E2E_DAEMON_LOG", os.devnull), "w")
    try:
        with tempfile.TemporaryDirectory(prefix="nebla-text-") as root:
            os.chmod(root, 0o755)
            for number in range(180, 190):
                try:
                    server = XServer(number)
                    break
                except Failure:
                    server = None
            check(server is not None, "no free X display from :180 to :189")
            log("Xvfb on " + server.display)
            home = home_of(root, "text-home")
            words_file = os.path.join(home, "my words.txt")
            with open(words_file, "w") as f:
                f.write("Words from a file\n")
            filled = {"literal": WORDS, "program": PROGRAM, "file": words_file}
            entries = [command_line(settings, dict(filled, text=choice))
                       for choice in ("textLiteral", "textProgram", "textFile", "textOwn")]
            for entry in entries:
                log("entry: " + entry)
            write_preferences(home, entries)
            user = User(home, server.display, binary)
            saver = subprocess.Popen(user.command("xscreensaver", "-no-splash", "-verbose"), stdout=daemon_log,
                                     stderr=daemon_log, start_new_session=True)
            log_file = os.path.join(home, "state", "nebla", "Nebla.log")
            selected_gets(user, binary, 1, log_file, "text: 1 page from the words given")
            selected_gets(user, binary, 2, log_file, "text: 1 page from the program " + quoted(PROGRAM))
            selected_gets(user, binary, 3, log_file, "text: 1 page from the file " + quoted(words_file))
            selected_gets(user, binary, 4, log_file, None)
            subprocess.run(user.command("xscreensaver-command", "-exit"), capture_output=True, timeout=10)
    except Failure as failure:
        print("[e2e] FAILED: %s" % failure, flush=True)
        return 1
    finally:
        stop_process(saver)
        if server is not None:
            server.stop()
    print("[e2e] all checks passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
