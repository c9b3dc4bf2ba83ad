// The capture tool where it only hashes and times runs: the WebAssembly
// build under node and the Windows build. There is no PNG library and no
// ffmpeg to start (the command line refuses --png and --video before a
// writer is made). The watchdog is in watchdog_thread.cpp (Windows) or
// watchdog_none.cpp (WebAssembly).
#include "host.h"
#include "video_writer.h"

namespace nebla::tools {
namespace host {

const bool kFilesBuilt = false;

bool writeFramePng(const std::string&, const platform::headless::PresentedFrame&) { return false; }

void ignoreBrokenPipes() {}

bool runTextProgram(const std::string&, std::size_t, std::string&, std::string& failure) {
  failure = "this build runs no programs; the Linux build does";
  return false;
}

}  // namespace host

bool VideoWriter::startFfmpeg(std::vector<std::string>) {
  return fail("this build cannot start ffmpeg");
}

bool VideoWriter::writeToFfmpeg(const std::uint8_t*, std::size_t) { return false; }

bool VideoWriter::waitForFfmpeg() { return fail("this build cannot start ffmpeg"); }

// Nothing was ever started.
void VideoWriter::abandon() {}

}  // namespace nebla::tools
