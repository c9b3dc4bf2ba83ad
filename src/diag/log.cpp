// Log file: level thresholds, prefixes and the line format.
#include "diag/log.h"

#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace nebla::diag {

std::ofstream LogStream;
std::int32_t LogLevel = 3;

namespace {

constexpr std::string_view kErrorPrefix = "    ERROR:";
constexpr std::string_view kWarningPrefix = "  WARNING:";

// Lines known before the log opens, with whether each is a warning.
std::vector<std::pair<bool, std::string>> linesAtOpen;

// Lines are rare and exist to explain failures, so each one is flushed as
// soon as it is written.
template <typename... Parts>
void writeLine(std::ostream& out, const Parts&... parts) {
  (out << ... << parts) << '\n' << std::flush;
}

}  // namespace

void openLog(const char* fileName, std::int32_t level) {
  LogLevel = level;
  if (level == 0) {
    linesAtOpen.clear();
    return;
  }
  if (LogStream.is_open()) LogStream.close();
  LogStream.clear();
  LogStream.open(fileName, std::ios::out | std::ios::trunc);
  for (const auto& [warning, line] : std::exchange(linesAtOpen, {}))
    warning ? logWarning(line) : logInfo(line);
}

void logWarningAtOpen(std::string message) { linesAtOpen.emplace_back(true, std::move(message)); }

void logError(std::string_view message) {
  if (LogLevel <= 0) return;
  writeLine(LogStream, kErrorPrefix, message);
  writeLine(std::cerr, kErrorPrefix, message);
}

void logError(std::string_view message, std::int32_t result) {
  if (LogLevel <= 0) return;
  writeLine(LogStream, kErrorPrefix, message, result);
  writeLine(std::cerr, kErrorPrefix, message, result);
}

void logErrorCode(std::string_view message, std::uint32_t systemError) {
  if (LogLevel <= 0) return;
  writeLine(LogStream, kErrorPrefix, message, systemError);
  writeLine(std::cerr, kErrorPrefix, message, systemError);
}

void logWarning(std::string_view message) {
  if (LogLevel > 1) writeLine(LogStream, kWarningPrefix, message);
}

void logWarning(std::string_view message, std::int32_t result) {
  if (LogLevel > 1) writeLine(LogStream, kWarningPrefix, message, result);
}

void logInfo(std::string_view message) {
  if (LogLevel > 2) writeLine(LogStream, message);
}

void logInfo(std::string_view message, std::int32_t value) {
  if (LogLevel > 2) writeLine(LogStream, message, value);
}

void logInfoAtOpen(std::string message) { linesAtOpen.emplace_back(false, std::move(message)); }

}  // namespace nebla::diag
