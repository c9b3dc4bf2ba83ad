// Scripted input for the headless backend: a text file with one timed event
// a line, for tests and the capture tool.
//
//   # comment; blank lines are ignored
//   0     text "Happy birthday,\nAda!"
//   0     mouse 320 240
//   100   left down
//   450   left up
//   1000  key down space
//   1040  key up space
//   5000  key down esc
//
// A line is a time in milliseconds since program start (never smaller than
// the line before), then one event: "key down NAME", "key up NAME" (NAME:
// esc, q, space, left, up, right, down, 0-9, c, d, l, m, t, shift),
// "mouse X Y", "left down", "left up", "right down", "right up",
// "focus lost", "focus gained", "close", or a text for the writer:
// text "WORDS" (UTF-8; \\ \" \n \t \r and \xNN are escapes, and a # inside
// the quotes is no comment) or "text keyless" (the writer's own text without
// the pages that teach keys).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.h"

namespace nebla::platform::headless {

// Parses script text; on failure returns false with error set to
// "FILE:LINE: reason" (fileName is only used in that message).
bool parseScript(std::string_view text, std::string_view fileName, std::vector<InputEvent>& events,
                 std::string& error);

// Reads and parses a script file; error as above, or "FILE: cannot read".
bool loadScript(const std::string& path, std::vector<InputEvent>& events, std::string& error);

// A word from a script or a command line, in single quotes, as it may
// appear in a one-line message: bytes that are not printable ASCII (and the
// backslash) become \xNN, and words past 40 bytes are cut short with "...".
std::string quoted(std::string_view word);

// Script name of a virtual-key code; empty for a key scripts cannot name
// (the program reacts to none of those).
std::string_view scriptKeyName(int key);

// One script line for an event, "TIME EVENT" without the newline, which
// parseScript reads back as the same event; empty for a key scripts cannot
// name.
std::string formatScriptEvent(const InputEvent& event);

// Virtual-key code of a script key name; -1 for an unknown name.
int scriptKeyCode(std::string_view name);

}  // namespace nebla::platform::headless
