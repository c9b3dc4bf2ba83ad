// Presented frames straight into a video file through ffmpeg: H.264 in
// .mp4, VP9 in .webm, or a GIF with a palette made from the frames.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "video_format.h"

namespace nebla::tools {

// The video's frame rate. Frames are placed at their virtual times to the
// nearest 20 ms: a frame step's 50 ms become two or three video frames, an
// outro step's 20 ms one. Browsers do not honour GIF delays below 20 ms.
constexpr int kVideoFps = 50;

// ffmpeg's arguments (without the program name) for a pal8 picture of
// width x height on stdin, enlarged `scale` times with sharp pixels, into
// `output` in the given format.
std::vector<std::string> ffmpegArguments(VideoFormat format, std::uint32_t width,
                                         std::uint32_t height, int scale,
                                         const std::string& output);

// Where a frame shown from `time` ends up: the video's frames are counted
// from the first presented frame's time.
std::uint64_t videoFrameAt(platform::DWORD firstTime, platform::DWORD time);

class VideoWriter {
 public:
  VideoWriter() = default;
  ~VideoWriter();
  VideoWriter(const VideoWriter&) = delete;
  VideoWriter& operator=(const VideoWriter&) = delete;

  // Every false below leaves its reason in error(); the first failure's
  // reason is kept.

  // Starts ffmpeg writing to a temporary name beside `path`; false when the
  // file cannot be made or ffmpeg cannot be started.
  bool open(const std::string& path, VideoFormat format, int scale, std::uint32_t width,
            std::uint32_t height);
  // Shows the frame from its time on; earlier frames fill the video up to
  // it. False once ffmpeg has stopped taking frames.
  bool add(const platform::headless::PresentedFrame& frame);
  // Ends the video: the last frame is shown for one more frame's time,
  // ffmpeg finishes and the file takes its name. False otherwise, and no
  // file is left under either name.
  bool finish();
  // Gives up: ffmpeg is stopped and the temporary file removed.
  void abandon();

  const std::string& error() const { return error_; }
  std::uint64_t framesWritten() const { return written_; }

 private:
  bool fail(std::string reason);
  // The system's part (host_posix.cpp; host_bare.cpp has no ffmpeg).
  bool startFfmpeg(std::vector<std::string> args);
  bool writeToFfmpeg(const std::uint8_t* data, std::size_t size);  // all of it, or errno set
  bool waitForFfmpeg();
  bool writeHeld(std::uint64_t upTo);

  std::string path_;
  std::string temporary_;
  pid_t child_ = -1;
  int pipe_ = -1;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::vector<std::uint8_t> held_;  // the frame on show: pixels, then the palette
  std::optional<platform::DWORD> firstTime_;
  std::uint64_t written_ = 0;
  std::string error_;
};

}  // namespace nebla::tools
