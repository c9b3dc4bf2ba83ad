// What the capture tool needs from its system beyond standard C++: PNG
// files, a running ffmpeg and a watchdog timer. The Linux build has them
// all (host_posix.cpp); the WebAssembly and Windows builds have no files
// and no ffmpeg (host_bare.cpp), and their command line refuses --png and
// --video; Windows watches with a thread (watchdog_thread.cpp), WebAssembly
// not at all (watchdog_none.cpp). CMake's NEBLA_CAPTURE_FILES picks the
// files.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/headless/headless.h"

namespace nebla::tools::host {

// Whether this build writes PNG frames and videos.
extern const bool kFilesBuilt;

// The frame through its palette as a PNG file; false if it could not be
// written (never true in a build without files).
bool writeFramePng(const std::string& path, const platform::headless::PresentedFrame& frame);

// Gives the run up with status 4 when `framesSince` has not grown for 10 s
// of real time (the tool adds 1 for every frame): a fault rule can keep the
// program from ever presenting again. The WebAssembly build watches
// nothing. Stopped before the tool prints its summary.
void startWatchdog(std::atomic<std::uint32_t>& framesSince);
void stopWatchdog();

}  // namespace nebla::tools::host
