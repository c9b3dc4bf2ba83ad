// The levelled log file "Nebla.log": errors, warnings and a few
// information lines, each written whole and flushed at once.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

namespace nebla::diag {

// The stream and level are process-wide; the entry function opens the
// stream once, before anything else could write a line.
extern std::ofstream LogStream;
extern std::int32_t LogLevel;

// Called once by the entry function. Level 0 opens no file; a file that
// cannot be opened leaves the stream failed and every line is dropped.
void openLog(const char* fileName, std::int32_t level);

// A warning an entry function has before it runs the program, whose start
// opens the log (a stored setting it had to refuse): held, and written as
// the first lines when openLog opens the file, then let go.
void logWarningAtOpen(std::string message);

// Line writers for the three severities. A number that is a display or
// setting result is written signed; a system error number unsigned.
// Error lines also go to standard error, so a failed start is explained on
// the terminal too.
void logError(std::string_view message);
void logError(std::string_view message, std::int32_t result);
void logErrorCode(std::string_view message, std::uint32_t systemError);
void logWarning(std::string_view message);
void logWarning(std::string_view message, std::int32_t result);
void logInfo(std::string_view message);
void logInfo(std::string_view message, std::int32_t value);

// An information line known before the log opens (the text, read before
// the window opens, and where it came from): kept, and written by the next
// openLog that opens a file, right after it opens it. Level 0 drops it.
void logInfoAtOpen(std::string message);

}  // namespace nebla::diag
