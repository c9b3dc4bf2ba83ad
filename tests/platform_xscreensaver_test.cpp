// Nebla added to XScreenSaver's list of programs: the file's format at its
// edges (continued lines, labels, visuals, disabled entries, lists that end
// early), every other byte kept, a second run changing nothing, and the
// file on disk replaced whole or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/xscreensaver/preferences_file.h"
#include "platform/xscreensaver/programs_list.h"

namespace nebla::platform::xscreensaver {
namespace {

namespace fs = std::filesystem;

// Nebla's line as XScreenSaver lays its entries out.
const std::string kNeblaLine = "\t\t\t\tnebla --root\t\t\t\t    \\n";

// The shape of Debian's app-defaults file: comments, continued resources,
// and the list under `*programs`.
const std::string kDefaultsList =
    "\t\t\t\t\t\t\t\t      \\\n"
    "\t\t\t\tmaze --root\t\t\t\t    \\n\\\n"
    "- GL: \t\t\t\tsuperquadrics --root\t\t\t    \\n\\\n"
    "-\t\t\t\tnerverot --root\t\t\t\t    \\n";
const std::string kDefaults =
    "! *programs: a comment, not the list\n"
    "*mode:\t\t\trandom\n"
    "*manualCommand: xdg-open man:%s || \\\n"
    "\t\t    x-terminal-emulator -e /bin/sh -c 'man \"%s\"'\n"
    "*programs:" +
    kDefaultsList +
    "\n"
    "\n"
    "*hacks.nerverot.name:     Nerve Rot\n";

Edited again(const Edited& first) { return addNebla(first.text, kDefaults); }

TEST(XScreenSaverList, AMissingFileGetsTheSystemListWithNeblaLast) {
  Edited made = addNebla(std::nullopt, kDefaults);
  EXPECT_EQ(made.change, Change::Added);
  EXPECT_TRUE(made.newList);
  std::string block = "programs:" + kDefaultsList + "\\\n" + kNeblaLine + "\n";
  ASSERT_TRUE(made.text.ends_with(block)) << made.text;
  std::istringstream head(made.text.substr(0, made.text.size() - block.size()));
  for (std::string line; std::getline(head, line);)
    EXPECT_TRUE(line.empty() || line[0] == '#') << line;
  Edited second = again(made);
  EXPECT_EQ(second.change, Change::AlreadyListed);
  EXPECT_EQ(second.text, made.text);
  EXPECT_TRUE(
      addNebla(std::nullopt, std::nullopt).text.ends_with("programs:\\\n" + kNeblaLine + "\n"));
}

// As xscreensaver-settings writes the file; "nebla" appears in it, but not
// as the program of an entry.
TEST(XScreenSaverList, AnExistingListGetsOneLineAndKeepsEveryOtherByte) {
  std::string before =
      "# XScreenSaver Preferences File\n"
      "# programs: nebla --root\n"
      "\n"
      "textProgram:\tnebla\n"
      "mode:\t\tone\n"
      "\n"
      "programs:\t\t\t\t\t\t\t\t      \\\n"
      "\t\t\t\tphosphor --root --program nebla\t\t    \\n\\\n"
      "-\t\t\t\"Not it\"  neblafoo --root\t\t\t    \\n\\\n"
      "  GL: \t\t\t\t/opt/xnebla --root\t\t\t    \\n\\\n"
      "\t\t\t\tqix --root\t\t\t\t    \\n";
  std::string after = "\n\npointerHysteresis:\t10\n";
  Edited added = addNebla(before + after, kDefaults);
  EXPECT_EQ(added.change, Change::Added);
  EXPECT_FALSE(added.newList);
  EXPECT_EQ(added.text, before + "\\\n" + kNeblaLine + after);
  EXPECT_EQ(again(added).change, Change::AlreadyListed);
  EXPECT_EQ(again(added).text, added.text);
}

TEST(XScreenSaverList, ADisabledNeblaIsEnabledNotAddedAgain) {
  std::string list =
      "programs:\t\t\t\t\t\t\t\t      \\\n"
      "\t\t\t\tqix --root\t\t\t\t    \\n\\\n"
      "- GL:\t  \"Smoke\"\t/usr/libexec/xscreensaver/nebla --root --scheme 3    \\n\\\n"
      "-\t\t\t\tnebla --root\t\t\t\t    \\n\n";
  Edited enabled = addNebla(list, kDefaults);
  EXPECT_EQ(enabled.change, Change::Enabled);
  std::string expected = list;
  expected.erase(expected.find("- GL:"), 1);
  EXPECT_EQ(enabled.text, expected);
  EXPECT_EQ(again(enabled).change, Change::AlreadyListed);
}

TEST(XScreenSaverList, ListsThatEndEarlyAreClosedFirst) {
  EXPECT_EQ(addNebla("mode: one\nprograms: qix --root", kDefaults).text,
            "mode: one\nprograms: qix --root \\n\\\n" + kNeblaLine + "\n");
  EXPECT_EQ(addNebla("programs:\n# qix --root\n", kDefaults).text,
            "programs:\\\n" + kNeblaLine + "\n# qix --root\n");
}

// A later value replaces an earlier one, so the last list is the one; a
// file without one would get the system's from XScreenSaver.
TEST(XScreenSaverList, TheListThatCountsIsEdited) {
  EXPECT_EQ(addNebla("Programs: qix \\n\nprograms: maze \\n\n", kDefaults).text,
            "Programs: qix \\n\nprograms: maze \\n\\\n" + kNeblaLine + "\n");
  Edited listless = addNebla("mode: one\nselected: 3", kDefaults);
  EXPECT_TRUE(listless.newList);
  EXPECT_EQ(listless.text,
            "mode: one\nselected: 3\n\nprograms:" + kDefaultsList + "\\\n" + kNeblaLine + "\n");
}

// xscreensaver-settings opens config/NAME.xml for an entry whose program
// is NAME, and reads the entry's arguments against its <command arg>.
TEST(XScreenSaverList, TheEntryMatchesItsSettingsPage) {
  std::ifstream in(NEBLA_SOURCE_DIR "/packaging/nebla.xml");
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string command(kNeblaCommand);
  std::size_t space = command.find(' ');
  ASSERT_NE(space, std::string::npos);
  EXPECT_NE(page.find("<screensaver name=\"" + command.substr(0, space) + "\""), std::string::npos);
  EXPECT_NE(page.find("<command arg=\"" + command.substr(space + 1) + "\"/>"), std::string::npos);
  EXPECT_EQ(command.substr(0, space), "nebla");
}

class PreferencesFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("nebla-xscreensaver-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    write(dir / "XScreenSaver", kDefaults);
  }
  void TearDown() override { fs::remove_all(dir); }

  static void write(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }
  static std::string read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  bool add(const fs::path& file, FileChange& done, std::string& error) {
    return addNeblaToFile(file, {(dir / "none").string(), (dir / "XScreenSaver").string()}, done,
                          error);
  }

  fs::path dir;
};

TEST_F(PreferencesFile, MadeFromTheDefaultsOnceThenLeftAlone) {
  fs::path file = dir / ".xscreensaver";
  FileChange done;
  std::string error;
  ASSERT_TRUE(add(file, done, error)) << error;
  EXPECT_EQ(done.change, Change::Added);
  EXPECT_EQ(done.defaults, (dir / "XScreenSaver").string());
  std::string made = read(file);
  EXPECT_EQ(made, addNebla(std::nullopt, kDefaults).text);
  struct stat first;
  ASSERT_EQ(::stat(file.c_str(), &first), 0);
  ASSERT_TRUE(add(file, done, error)) << error;
  EXPECT_EQ(done.change, Change::AlreadyListed);
  struct stat second;
  ASSERT_EQ(::stat(file.c_str(), &second), 0);
  EXPECT_EQ(second.st_ino, first.st_ino);  // not even written again
  EXPECT_EQ(read(file), made);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

// A preferences file kept elsewhere and linked in stays linked, and keeps
// its permissions.
TEST_F(PreferencesFile, ALinkedFileIsChangedWhereItLives) {
  fs::create_directories(dir / "dotfiles");
  write(dir / "dotfiles" / "xscreensaver", "programs: qix --root \\n\n");
  fs::permissions(dir / "dotfiles" / "xscreensaver", fs::perms(0640));
  fs::create_symlink("dotfiles/xscreensaver", dir / ".xscreensaver");
  FileChange done;
  std::string error;
  ASSERT_TRUE(add(dir / ".xscreensaver", done, error)) << error;
  EXPECT_TRUE(fs::is_symlink(dir / ".xscreensaver"));
  EXPECT_EQ(read(dir / "dotfiles" / "xscreensaver"),
            "programs: qix --root \\n\\\n" + kNeblaLine + "\n");
  EXPECT_EQ(fs::status(dir / "dotfiles" / "xscreensaver").permissions(), fs::perms(0640));
}

TEST_F(PreferencesFile, FailuresLeaveEverythingAsItWas) {
  FileChange done;
  std::string error;
  fs::create_directories(dir / "folder" / ".xscreensaver");
  EXPECT_FALSE(add(dir / "folder" / ".xscreensaver", done, error));
  EXPECT_TRUE(
      error.starts_with("cannot read " + (dir / "folder" / ".xscreensaver").string() + ": "))
      << error;
  EXPECT_TRUE(fs::is_empty(dir / "folder" / ".xscreensaver"));
  EXPECT_FALSE(add(dir / "gone" / ".xscreensaver", done, error));
  EXPECT_TRUE(error.starts_with("cannot write a new file beside ")) << error;
  EXPECT_FALSE(fs::exists(dir / "gone"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "folder"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace nebla::platform::xscreensaver
