// What the capture tool needs from its system beyond standard C++: PNG
// files, a running ffmpeg and a watchdog timer. The Linux build has them
// all (host_posix.cpp); the WebAssembly and Windows builds have no files
// and no ffmpeg (host_bare.cpp), and their command line refuses --png and
// --video; Windows watches with a thread (watchdog_thread.cpp), WebAssembly
// not at all (watchdog_none.cpp). CMake's NEBLA_CAPTURE_FILES picks the
// files.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/headless/headless.h"

namespace nebla::tools::host {

// Whether this build writes PNG frames and videos.
extern const bool kFilesBuilt;

// The frame through its palette as a PNG file; false if it could not be
// written (never true in a build without files).
bool writeFramePng(const std::string& path, const platform::headless::PresentedFrame& frame);

// What the watchdog sees of a run: the tool adds 1 to `frames` for every
// frame, and sets `writing` while it writes one out.
struct Pulse {
  std::atomic<std::uint32_t> frames{0};
  std::atomic<bool> writing{false};
};

// Gives the run up with kExitGivenUp when no frame has come for
// kStuckSeconds of real time: a fault rule can keep the program from ever
// presenting again. Time spent writing a frame (a slow disk, or ffmpeg slow
// to take the next picture) is the outputs', not the program's, and never
// counts. The WebAssembly build watches nothing. Stopped before the tool
// prints its summary.
void startWatchdog(Pulse& pulse);
void stopWatchdog();

// A video reader that stops is an error to report, not a reason to die:
// where writing to a closed pipe raises a signal, it is ignored for the
// whole process. Called once, where the tool starts.
void ignoreBrokenPipes();

// Runs a --text-program command to its end: true with everything it
// printed, or false with why it gave no text ("exited with status 3").
// Output is bounded by maxBytes, time by kTextProgramSeconds. A build
// without processes (WebAssembly, Windows) refuses every program.
constexpr unsigned kTextProgramSeconds = 10;
bool runTextProgram(const std::string& command, std::size_t maxBytes, std::string& output,
                    std::string& failure);

}  // namespace nebla::tools::host
