// XScreenSaver's list of programs, as its preferences file (~/.xscreensaver)
// and the system's defaults (the app-defaults file) hold it: finding Nebla
// in it and adding Nebla to it, with every other line of the file kept.
//
// The list is the value of the `programs` resource, one program an entry,
// each entry ending in `\n` and usually on a line of its own, continued with
// a backslash at the line's end. An entry may start with `-` (disabled), a
// visual and a "label" before the command, as in
//
//   -  GL:  "Nerve Rot"  nerverot --root  \n
//
// and the name of the command's program (without its folder) is what
// XScreenSaver matches to a settings page, config/NAME.xml.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nebla::platform::xscreensaver {

// Nebla's entry, as every program of XScreenSaver's list: the program by
// name (found in XScreenSaver's programs folder or on PATH), drawing into
// the window it is handed. Its settings page starts from the same command.
inline constexpr std::string_view kNeblaCommand = "nebla --root";

enum class Change {
  Added,          // a new entry at the end of the list
  Enabled,        // a disabled Nebla entry lost its `-`
  AlreadyListed,  // an enabled Nebla entry was there: nothing changed
};

struct Edited {
  std::string text;  // the whole file after the change
  Change change;
  bool newList;  // the file had no list: it got the defaults' one, or one of its own
};

// The preferences file `user` (nullopt: there is none) with Nebla enabled
// in its programs. Only the list's own lines change. A file without a
// programs resource (XScreenSaver then takes the system's) gets the list of
// `defaults` (the app-defaults text; nullopt or without a list: none) with
// Nebla after it, at its end; a missing file is made of that list alone
// under a short comment. Never fails: text that is not a list is kept.
Edited addNebla(const std::optional<std::string>& user, const std::optional<std::string>& defaults);

}  // namespace nebla::platform::xscreensaver
