// The nebla executable: the program on a real screen through SDL2, in its
// own window or in another program's (a screensaver, a live wallpaper).
// The program has its own entry point; SDL needs no start-up code of its own.
#define SDL_MAIN_HANDLED

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "app/entry.h"
#include "diag/log.h"
#include "effects/text_writer.h"
#include "effects/user_text.h"
#include "particles/helper_thread.h"
#include "platform/backend.h"
#include "platform/headless/script.h"
#include "platform/headless/session_recorder.h"
#include "platform/pilot/pilot_backend.h"
#include "platform/process/text_program.h"
#include "platform/sdl/adopted_backend.h"
#include "platform/sdl/sdl_backend.h"
#include "platform/sdl/x11_target.h"
#include "platform/user.h"
#include "platform/xscreensaver/preferences_file.h"
#ifdef NEBLA_WAYLAND
#include "platform/wayland/wallpaper_backend.h"
#endif

namespace {

using nebla::platform::sdl::SdlBackend;

// The log sits in the working directory, so a directory that refuses the
// screenshot has usually refused the log as well: a failure is also printed
// and shown in the title, where someone at the window sees it.
void reportScreenshot(SdlBackend& backend, const std::string& fileName,
                      const std::string& failure) {
  using namespace nebla;
  if (failure.empty()) {
    diag::logInfo("saved screenshot " + fileName);
    backend.showNote("saved " + fileName);
    return;
  }
  diag::logWarning("failed to save screenshot " + fileName + ": " + failure);
  std::fprintf(stderr, "nebla: cannot save the screenshot %s: %s\n", fileName.c_str(),
               failure.c_str());
  backend.showNote("screenshot not saved: " + failure);
}

constexpr const char* kUsage =
    "usage: nebla [options]\n"
    "Plays Nebla full screen (Alt+Enter for a window, Escape or Q to end).\n"
    "  --scheme N      start with colour ramp N (1 to 10; the keys 1 ... 9, 0)\n"
    "  --light         start with the light on (Space)\n"
    "  --text FILE     the text writer spells FILE (UTF-8, - for standard input)\n"
    "                  instead of its own text\n"
    "  --text-literal WORDS\n"
    "                  the writer spells WORDS; the two characters \\n in them\n"
    "                  start a new line\n"
    "  --text-program COMMAND\n"
    "                  the writer spells what the shell command COMMAND prints\n"
    "                  (within 10 s and 1 MiB), such as fortune\n"
    "  --text-mode own|literal|file|program\n"
    "                  which of --text-literal, --text and --text-program to\n"
    "                  use, the others ignored (own: Nebla's own text); without\n"
    "                  it, at most one of them may be given\n"
    "  --autopilot     a virtual hand sprays, draws, blows and changes colours\n"
    "  --no-autopilot  no virtual hand, also in another program's window\n"
    "  --record FILE   also write the session's input to FILE as a script for\n"
    "                  nebla-capture --script FILE (one line an event, as it happens)\n"
    "  --window-id ID  draw into the X11 window ID (decimal or 0x-hex) as a\n"
    "                  screensaver or live wallpaper: no input, no outro, the\n"
    "                  autopilot on, SIGTERM ends it\n"
    "  --root          the same on the root window (under XScreenSaver, the\n"
    "                  window in XSCREENSAVER_WINDOW)\n"
    "  --wallpaper     a live wallpaper: on Wayland, on the background layer of\n"
    "                  every output (the compositor needs the layer-shell\n"
    "                  protocol); on X11, the same as --root\n"
    "  --output NAME   with --wallpaper on Wayland, only on the output NAME\n"
    "  --add-to-xscreensaver\n"
    "                  add Nebla to XScreenSaver's programs in ~/.xscreensaver,\n"
    "                  made from the system's list if missing, and end (takes no\n"
    "                  other options)\n"
    "  --version       the version\n"
    "  --help          this text\n"
    "Without --window-id or --root, XSCREENSAVER_WINDOW in the environment means\n"
    "--window-id. Exit status: 0, 1 when the demo could not start or\n"
    "~/.xscreensaver could not be changed, 2 for a bad command line or text, or\n"
    "for --wallpaper on a Wayland compositor that cannot show one.\n";

struct Options {
  std::string record;
  nebla::effects::TextChoice text;
  std::optional<int> scheme;  // 1 to 10
  bool light = false;
  std::optional<bool> autopilot;  // unset: on in another program's window
  std::optional<std::string> windowId;
  bool root = false;
  bool wallpaper = false;
  std::optional<std::string> output;
};

enum class Parsed { Run, Done, Refused, AddToXScreenSaver };

bool refuse(const std::string& reason) {
  std::fprintf(stderr, "nebla: %s\n%s", reason.c_str(), kUsage);
  return false;
}

bool parseScheme(const char* text, Options& options) {
  std::string_view value = text;
  if (value == "10") {
    options.scheme = 10;
    return true;
  }
  if (value.size() != 1 || value[0] < '1' || value[0] > '9')
    return refuse("--scheme wants a number from 1 to 10, not " +
                  nebla::platform::headless::quoted(value));
  options.scheme = value[0] - '0';
  return true;
}

// What an option given without its value lacks.
std::string missingValue(std::string_view arg) {
  if (arg == "--record" || arg == "--text") return "a file name";
  if (arg == "--text-literal") return "the words";
  return arg == "--text-program" ? "a command" : "a value";
}

// One option that takes a value; false after telling why it is refused.
bool parseValue(std::string_view arg, const char* value, Options& options) {
  if (value == nullptr || value[0] == '\0')
    return refuse(std::string(arg) + " needs " + missingValue(arg));
  if (arg == "--record") options.record = value;
  if (arg == "--text") options.text.file = value;
  if (arg == "--text-literal") options.text.literal = value;
  if (arg == "--text-program") options.text.program = value;
  if (arg == "--text-mode" && !nebla::effects::isTextMode(value))
    return refuse("--text-mode wants own, literal, file or program, not " +
                  nebla::platform::headless::quoted(value));
  if (arg == "--text-mode") options.text.mode = value;
  if (arg == "--window-id") options.windowId = value;
  if (arg == "--output") options.output = value;
  return arg != "--scheme" || parseScheme(value, options);
}

bool takesValue(std::string_view arg) {
  return arg == "--record" || arg == "--text" || arg == "--scheme" || arg == "--window-id" ||
         arg == "--text-literal" || arg == "--text-program" || arg == "--text-mode" ||
         arg == "--output";
}

Parsed parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "--version") {
      std::fputs(arg == "--help" ? kUsage : "nebla " NEBLA_VERSION "\n", stdout);
      return Parsed::Done;
    }
    if (arg == "--add-to-xscreensaver") {
      if (argc == 2) return Parsed::AddToXScreenSaver;
      refuse("--add-to-xscreensaver takes no other options");
      return Parsed::Refused;
    }
    if (arg == "--light" || arg == "--root") {
      (arg == "--light" ? options.light : options.root) = true;
    } else if (arg == "--wallpaper") {
      options.wallpaper = true;
    } else if (arg == "--autopilot" || arg == "--no-autopilot") {
      options.autopilot = arg == "--autopilot";
    } else if (takesValue(arg)) {
      if (!parseValue(arg, i + 1 < argc ? argv[++i] : nullptr, options)) return Parsed::Refused;
    } else {
      refuse("unknown option: " + nebla::platform::headless::quoted(arg));
      return Parsed::Refused;
    }
  }
  if (options.output && !options.wallpaper) {
    refuse("--output goes with --wallpaper");
    return Parsed::Refused;
  }
  std::string reason;
  if (nebla::effects::pickTextSource(options.text, reason)) return Parsed::Run;
  refuse(reason);
  return Parsed::Refused;
}

// A file name or command in full, for the log, where nothing cuts it short:
// in single quotes, control characters as \xNN so that it stays one line.
std::string logName(std::string_view text) {
  std::string out = "'";
  for (unsigned char c : text) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += c < 0x20 || c == 0x7F ? std::string(hex) : std::string(1, static_cast<char>(c));
  }
  return out + "'";
}

// The user's words, laid out before the window opens so that refused ones
// are told at once, become the session's first event, which a recording
// keeps; the characters without a glyph are named once, and the log tells
// where the words came from.
void takeWords(std::string words, const nebla::effects::UserText& text, const std::string& source,
               nebla::platform::InputEvent& event) {
  using namespace nebla;
  effects::announceText(text, "nebla", source);
  event.kind = platform::InputEvent::Kind::Text;
  event.text = std::move(words);
}

// --text FILE.
bool readUserText(const std::string& path, nebla::platform::InputEvent& event) {
  nebla::effects::UserText text;
  std::string words, message;
  if (!nebla::effects::loadUserText(path, words, text, message)) {
    std::fprintf(stderr, "nebla: %s\n", message.c_str());
    return false;
  }
  takeWords(std::move(words), text, "the file " + logName(path), event);
  return true;
}

// --text-literal WORDS.
bool readLiteral(const std::string& given, nebla::platform::InputEvent& event) {
  nebla::effects::UserText text;
  std::string words = nebla::effects::literalText(given), reason;
  if (!nebla::effects::layOutText(words, text, reason)) {
    std::fprintf(stderr, "nebla: --text-literal: %s\n", reason.c_str());
    return false;
  }
  takeWords(std::move(words), text, "the words given", event);
  return true;
}

// --text-program COMMAND, run once before the window opens: with no text
// yet to fall back on, a program that gives none ends nebla.
bool readProgramOutput(nebla::platform::process::TextProgram& program, const std::string& command,
                       nebla::platform::InputEvent& event) {
  using namespace nebla;
  platform::process::ProgramResult result = program.run();
  effects::UserText text;
  std::string reason = result.failure;
  if (!result.ok || !effects::layOutText(result.output, text, reason)) {
    std::fprintf(stderr, "nebla: the text program %s: %s\n",
                 platform::headless::quoted(command).c_str(), reason.c_str());
    return false;
  }
  takeWords(std::move(result.output), text, "the program " + logName(command), event);
  return true;
}

// The program runs again each time the writer starts its text over; what
// it prints then is written from the next start. One that fails leaves the
// writer's text as it is, and the log says why.
void rerunEachStart(nebla::platform::process::TextProgram& program, const std::string& command,
                    nebla::platform::pilot::PilotBackend& hand) {
  using namespace nebla;
  effects::setTextStartListener([&program] { program.start(); });
  hand.setTextSource([&program, command]() -> std::optional<std::string> {
    platform::process::ProgramResult result;
    if (!program.poll(result)) return std::nullopt;
    if (result.ok) return std::move(result.output);
    diag::logWarning("the text program " + logName(command) + " " + result.failure +
                     "; the writer keeps its text");
    return std::nullopt;
  });
}

// The X11 window to draw into, if any: --window-id, the (virtual) root, or
// the screensaver's window. False after telling why there is none.
bool findTarget(const Options& options, std::optional<unsigned long>& target) {
  namespace x11 = nebla::platform::sdl::x11;
  const char* saver = std::getenv("XSCREENSAVER_WINDOW");
  std::optional<std::string> text = options.windowId;
  if (!text && saver != nullptr && saver[0] != '\0') text = saver;
  if (!text && !options.root) return true;
  std::optional<unsigned long> id;
  if (text && !(id = x11::parseWindowId(*text))) {
    std::fprintf(stderr, "nebla: not a window id: %s\n",
                 nebla::platform::headless::quoted(*text).c_str());
    return false;
  }
  std::string why;
  target = x11::findWindow(id, why);
  if (!target)
    std::fprintf(stderr, "nebla: cannot draw into window %s: %s\n", text ? text->c_str() : "root",
                 why.c_str());
  return target.has_value();
}

// A screensaver's working directory is the user's home; its log goes where
// a desktop program keeps its state, $XDG_STATE_HOME/nebla.
void enterStateDirectory() {
  namespace fs = std::filesystem;
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  fs::path dir;
  if (state != nullptr && state[0] == '/')
    dir = fs::path(state) / "nebla";
  else if (home != nullptr && home[0] != '\0')
    dir = fs::path(home) / ".local" / "state" / "nebla";
  std::error_code error;
  if (!dir.empty()) fs::create_directories(dir, error);
  if (!dir.empty() && !error) fs::current_path(dir, error);
  if (dir.empty() || error)
    std::fprintf(stderr, "nebla: no state directory for the log (%s): %s\n", dir.c_str(),
                 dir.empty() ? "HOME is not set" : error.message().c_str());
}

// The keys that give the starting look, pressed before anything else.
std::vector<int> startingKeys(const Options& options) {
  std::vector<int> keys;
  if (options.scheme) keys.push_back('0' + *options.scheme % 10);
  if (options.light) keys.push_back(nebla::platform::VK_SPACE);
  return keys;
}

std::uint32_t freshSeed() { return std::random_device{}(); }

// The preferences file where XScreenSaver looks for it: in HOME, else in
// the home folder of the user's account.
std::string xscreensaverFile() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* account = getpwuid(getuid());
    home = account != nullptr ? account->pw_dir : nullptr;
  }
  return home != nullptr && home[0] != '\0' ? std::string(home) + "/.xscreensaver" : std::string();
}

std::string describe(const nebla::platform::xscreensaver::FileChange& done,
                     const std::string& file) {
  using nebla::platform::xscreensaver::Change;
  if (done.change == Change::AlreadyListed)
    return "Nebla is already in the programs of " + file + "; nothing changed";
  if (done.change == Change::Enabled) return "enabled Nebla in the programs of " + file;
  if (!done.newList) return "added Nebla to the programs of " + file;
  if (done.defaults.empty())
    return "added Nebla to " + file + " as its only program (no XScreenSaver defaults found)";
  return "added Nebla to the programs of " + file + ", a list copied from " + done.defaults;
}

// --add-to-xscreensaver: Nebla in the list xscreensaver-settings shows.
int addToXScreenSaver() {
  namespace saver = nebla::platform::xscreensaver;
  std::string file = xscreensaverFile();
  if (file.empty()) {
    std::fputs("nebla: no home folder for ~/.xscreensaver (HOME is not set)\n", stderr);
    return 1;
  }
  saver::FileChange done;
  std::string error;
  if (!saver::addNeblaToFile(file, saver::systemDefaultsFiles(), done, error)) {
    std::fprintf(stderr, "nebla: %s; nothing changed\n", error.c_str());
    return 1;
  }
  std::printf("nebla: %s\n", describe(done, file).c_str());
  return 0;
}

// The program's own window, whose title tells of screenshots and of a
// recording that stopped; or another program's window, which keeps its
// title (own stays null).
std::unique_ptr<nebla::platform::Backend> makeScreen(std::optional<unsigned long> target,
                                                     SdlBackend*& own) {
  if (target) {
    enterStateDirectory();
    return std::make_unique<nebla::platform::sdl::AdoptedBackend>(*target);
  }
  auto backend = std::make_unique<SdlBackend>();
  own = backend.get();
  backend->setScreenshotReport([own](const std::string& fileName, const std::string& failure) {
    reportScreenshot(*own, fileName, failure);
  });
  return backend;
}

// The live wallpaper on Wayland.

// --wallpaper in a Wayland session draws on the compositor's background
// layer; an X server beside it (XWayland) shows no root window. Without a
// Wayland display, or with an X11 window named, it is the root window.
bool waylandWallpaper(const Options& options) {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  return options.wallpaper && display != nullptr && display[0] != '\0' && !options.windowId &&
         !options.root;
}

#ifdef NEBLA_WAYLAND
// The wallpaper's backend, connected to the compositor; null after telling
// why not, with the exit status: 1 for a compositor that cannot be
// reached, 2 for one that cannot show a wallpaper.
std::unique_ptr<nebla::platform::Backend> openWallpaper(const Options& options, int& status) {
  using nebla::platform::wayland::WallpaperBackend;
  auto backend = std::make_unique<WallpaperBackend>(options.output.value_or(""));
  std::string why;
  WallpaperBackend::Start start = backend->start(why);
  if (start != WallpaperBackend::Start::Ready) {
    bool unreachable = start == WallpaperBackend::Start::NoCompositor;
    std::fprintf(stderr,
                 unreachable
                     ? "nebla: cannot connect to the Wayland display %s: %s\n"
                     : "nebla: cannot show a live wallpaper on the Wayland display %s: %s\n",
                 std::getenv("WAYLAND_DISPLAY"), why.c_str());
    status = unreachable ? 1 : 2;
    return nullptr;
  }
  if (options.output && !backend->hasOutput(*options.output)) {
    std::string names;
    for (const std::string& name : backend->outputNames())
      names += (names.empty() ? "" : ", ") + name;
    std::fprintf(stderr, "nebla: no output is named %s now (there are: %s); waiting for it\n",
                 options.output->c_str(), names.empty() ? "none" : names.c_str());
  }
  // The log is open by the time the compositor can go away.
  backend->setEndReport([](const std::string& why) { nebla::diag::logInfo(why); });
  enterStateDirectory();
  return backend;
}
#else
std::unique_ptr<nebla::platform::Backend> openWallpaper(const Options&, int& status) {
  std::fputs(
      "nebla: this nebla was built without Wayland support, so --wallpaper works on X11 only\n",
      stderr);
  status = 2;
  return nullptr;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  using namespace nebla;
  Options options;
  switch (parseOptions(argc, argv, options)) {
    case Parsed::Done: return 0;
    case Parsed::Refused: return 2;
    case Parsed::AddToXScreenSaver: return addToXScreenSaver();
    case Parsed::Run: break;
  }
  platform::InputEvent text{platform::InputEvent::Kind::KeylessText};
  const effects::TextChoice& choice = options.text;
  platform::process::TextProgram program(choice.program, effects::kMaxTextBytes,
                                         std::chrono::seconds(10));
  if (!choice.file.empty() && !readUserText(choice.file, text)) return 2;
  if (!choice.literal.empty() && !readLiteral(choice.literal, text)) return 2;
  if (!choice.program.empty() && !readProgramOutput(program, choice.program, text)) return 2;
  bool wayland = waylandWallpaper(options);
  if (options.wallpaper && !wayland) options.root = true;
  std::optional<unsigned long> target;
  if (!findTarget(options, target)) return 2;
  // The record file is made before anything else, so that a bad name is
  // told at once and no window opens for a session that would be lost.
  platform::headless::SessionRecorder recorder;
  std::string error;
  if (!options.record.empty() && !recorder.open(options.record, error)) {
    std::fprintf(stderr, "nebla: cannot record to %s: %s\n", options.record.c_str(), error.c_str());
    return 2;
  }
  SDL_SetMainReady();
  SdlBackend* own = nullptr;
  int status = 0;
  std::unique_ptr<platform::Backend> screen =
      wayland ? openWallpaper(options, status) : makeScreen(target, own);
  if (!screen) return status;
  platform::pilot::PilotBackend hand(*screen);
  hand.pressAtStart(startingKeys(options));
  // Where the keys do nothing, the writer's own text leaves out the pages
  // that teach them.
  if (text.kind == platform::InputEvent::Kind::Text || target || wayland)
    hand.writeAtStart(std::move(text));
  if (!choice.program.empty()) rerunEachStart(program, choice.program, hand);
  if (options.autopilot.value_or(target.has_value() || wayland)) hand.fly(freshSeed());
  if (!options.record.empty()) {
    recorder.setFailureReport([&](const std::string& reason) {
      std::fprintf(stderr, "nebla: recording stopped: cannot write %s: %s\n",
                   options.record.c_str(), reason.c_str());
      if (own != nullptr) own->showNote("recording stopped: " + reason);
    });
    platform::setInputObserver([&recorder](const platform::InputEvent& e) { recorder.record(e); });
  }
  platform::setBackend(&hand);
  particles::HelperThread::setEnabled(particles::HelperThread::requested());
  status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  platform::setInputObserver(nullptr);
  platform::setBackend(nullptr);
  return status;
}
