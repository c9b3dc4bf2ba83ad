// The user's XScreenSaver preferences file on disk (~/.xscreensaver): Nebla
// added to its programs, the file replaced in one step so that a failure
// never leaves it half written.
#pragma once

#include <string>
#include <vector>

#include "platform/xscreensaver/programs_list.h"

namespace nebla::platform::xscreensaver {

// Where systems keep XScreenSaver's defaults: Debian's folder first, then
// the one of distributions that keep them under /usr.
std::vector<std::string> systemDefaultsFiles();

struct FileChange {
  Change change;
  bool newList;          // the file had no list of programs (or was not there)
  std::string defaults;  // the defaults file that list came from; empty: none found
};

// Adds Nebla to the programs in the file `path`, or in the file it names if
// it is a symbolic link. A missing file, or one without a list, gets the list
// of the first of `defaults` that exists. The new text goes to a new file
// beside the old one, with the old one's permissions, which then takes its
// place by rename; when nothing changes nothing is written. False with
// `error` ("cannot read FILE: reason") when a file cannot be read or the new
// one cannot be written; the old file is then as it was.
bool addNeblaToFile(const std::string& path, const std::vector<std::string>& defaults,
                    FileChange& result, std::string& error);

}  // namespace nebla::platform::xscreensaver
