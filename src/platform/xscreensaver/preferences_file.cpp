// Reading and replacing XScreenSaver's preferences file with plain POSIX
// calls: the error of each step is told with its reason, and the new text is
// on disk (fsync) before it takes the old file's name.
#include "platform/xscreensaver/preferences_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace nebla::platform::xscreensaver {
namespace {

bool fail(std::string& error, const std::string& what) {
  error = what + ": " + std::strerror(errno);
  return false;
}

// The whole file, or nullopt when there is none.
bool readWhole(const std::string& path, std::optional<std::string>& text, std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    text.reset();
    return true;
  }
  if (fd < 0) return fail(error, "cannot read " + path);
  std::string data;
  char buffer[16384];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      fail(error, "cannot read " + path);
      ::close(fd);
      return false;
    }
    data.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  text = std::move(data);
  return true;
}

// The file a write replaces: renaming onto a symbolic link would put a
// plain file in the link's place, so the file it names is replaced instead.
bool resolve(const std::string& path, std::string& target, std::string& error) {
  struct stat st;
  target = path;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return fail(error, "cannot follow the link " + path);
  target = real;
  std::free(real);
  return true;
}

// The old file's permissions (never executable, always the owner's to read
// and write, as XScreenSaver keeps them), or what the umask gives a new one.
mode_t modeFor(const std::string& target) {
  struct stat st;
  if (::stat(target.c_str(), &st) == 0)
    return (st.st_mode & 07777 & ~mode_t{0111}) | S_IRUSR | S_IWUSR;
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

bool replace(const std::string& target, const std::string& text, std::string& error) {
  std::string temp = target + ".nebla-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return fail(error, "cannot write a new file beside " + target);
  bool written = ::fchmod(fd, modeFor(target)) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
  int reason = errno;
  if (::close(fd) != 0 && written) written = false, reason = errno;
  if (written && ::rename(temp.c_str(), target.c_str()) == 0) return true;
  if (written) reason = errno;
  ::unlink(temp.c_str());
  errno = reason;
  return fail(error, "cannot write " + target);
}

// The first defaults file there is; none at all is no failure.
bool readDefaults(const std::vector<std::string>& files, std::optional<std::string>& text,
                  std::string& used, std::string& error) {
  for (const std::string& file : files) {
    if (!readWhole(file, text, error)) return false;
    if (text) {
      used = file;
      return true;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> systemDefaultsFiles() {
  return {"/etc/X11/app-defaults/XScreenSaver", "/usr/share/X11/app-defaults/XScreenSaver"};
}

bool addNeblaToFile(const std::string& path, const std::vector<std::string>& defaults,
                    FileChange& result, std::string& error) {
  std::string target;
  std::optional<std::string> user;
  std::optional<std::string> system;
  std::string used;
  if (!resolve(path, target, error) || !readWhole(target, user, error) ||
      !readDefaults(defaults, system, used, error))
    return false;
  Edited edited = addNebla(user, system);
  result = {edited.change, edited.newList, edited.newList ? used : std::string()};
  return edited.change == Change::AlreadyListed || replace(target, edited.text, error);
}

}  // namespace nebla::platform::xscreensaver
