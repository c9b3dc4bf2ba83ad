// Frames into ffmpeg through a pipe, as 8-bit pictures with their palettes.
// Starting ffmpeg and talking to it is the system's part (host_posix.cpp).
#include "video_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace nebla::tools {
namespace {

constexpr std::size_t kPaletteBytes = 256 * 4;

std::string scaleFilter(int scale) {
  std::string k = std::to_string(scale);
  return "scale=iw*" + k + ":ih*" + k + ":flags=neighbor";
}

}  // namespace

std::vector<std::string> ffmpegArguments(VideoFormat format, std::uint32_t width,
                                         std::uint32_t height, int scale,
                                         const std::string& output) {
  std::vector<std::string> args = {"-hide_banner", "-loglevel", "error", "-y"};
  // The input: raw 8-bit pictures, each followed by its palette.
  std::string size = std::to_string(width) + "x" + std::to_string(height);
  args.insert(args.end(), {"-f", "rawvideo", "-pix_fmt", "pal8", "-video_size", size, "-framerate",
                           std::to_string(kVideoFps), "-i", "pipe:0"});
  std::string filter = scale > 1 ? scaleFilter(scale) + "," : "";
  switch (format) {
    case VideoFormat::Mp4:
      args.insert(args.end(), {"-vf", filter + "format=yuv420p", "-c:v", "libx264", "-preset",
                               "veryfast", "-crf", "18", "-movflags", "+faststart", "-f", "mp4"});
      break;
    case VideoFormat::WebM:
      args.insert(args.end(),
                  {"-vf", filter + "format=yuv420p", "-c:v", "libvpx-vp9", "-deadline", "realtime",
                   "-cpu-used", "8", "-row-mt", "1", "-crf", "30", "-b:v", "0", "-f", "webm"});
      break;
    case VideoFormat::Gif:
      args.insert(args.end(), {"-filter_complex",
                               filter + "split[a][b];[a]palettegen=stats_mode=full[p];"
                                        "[b][p]paletteuse=dither=none:diff_mode=rectangle",
                               "-f", "gif"});
      break;
  }
  args.push_back(output);
  return args;
}

std::uint64_t videoFrameAt(platform::DWORD firstTime, platform::DWORD time) {
  std::uint64_t ms = static_cast<platform::DWORD>(time - firstTime);
  return (ms * kVideoFps + 500) / 1000;
}

VideoWriter::~VideoWriter() { abandon(); }

bool VideoWriter::fail(std::string reason) {
  if (error_.empty()) error_ = std::move(reason);
  return false;
}

bool VideoWriter::open(const std::string& path, VideoFormat format, int scale, std::uint32_t width,
                       std::uint32_t height) {
  path_ = path;
  temporary_ = path + ".part";
  width_ = width;
  height_ = height;
  // A file that cannot be made is told now, in words, rather than by
  // ffmpeg once the run is under way.
  if (std::FILE* probe = std::fopen(temporary_.c_str(), "wb")) {
    std::fclose(probe);
  } else {
    return fail("cannot write " + temporary_ + ": " + std::strerror(errno));
  }
  if (startFfmpeg(ffmpegArguments(format, width, height, scale, temporary_))) return true;
  std::remove(temporary_.c_str());
  return false;
}

bool VideoWriter::writeHeld(std::uint64_t upTo) {
  while (written_ < upTo) {
    if (!writeToFfmpeg(held_.data(), held_.size()))
      return fail("ffmpeg stopped taking frames (" + std::string(std::strerror(errno)) + ")");
    ++written_;
  }
  return true;
}

bool VideoWriter::add(const platform::headless::PresentedFrame& frame) {
  if (pipe_ < 0 || !error_.empty()) return false;
  if (frame.width != width_ || frame.height != height_) return fail("a frame of another size");
  if (!firstTime_) firstTime_ = frame.time;
  if (!held_.empty() && !writeHeld(videoFrameAt(*firstTime_, frame.time))) return false;
  held_.assign(frame.pixels.begin(), frame.pixels.end());
  held_.resize(frame.pixels.size() + kPaletteBytes);
  std::uint8_t* palette = held_.data() + frame.pixels.size();
  // ffmpeg's pal8 entries are 32-bit words 0xAARRGGBB in the machine's
  // own byte order.
  for (std::size_t i = 0; i < 256; ++i) {
    const auto& p = frame.palette[i];
    std::uint32_t word = 0xFF000000u | (std::uint32_t{p.peRed} << 16) |
                         (std::uint32_t{p.peGreen} << 8) | std::uint32_t{p.peBlue};
    std::memcpy(palette + i * 4, &word, sizeof word);
  }
  return true;
}

bool VideoWriter::finish() {
  if (pipe_ < 0) return fail("no video was started");
  bool fed = error_.empty() && (held_.empty() || writeHeld(written_ + 1));
  bool encoded = waitForFfmpeg();
  if (fed && encoded && std::rename(temporary_.c_str(), path_.c_str()) == 0) return true;
  if (fed && encoded)
    fail("cannot rename " + temporary_ + " to " + path_ + ": " + std::strerror(errno));
  std::remove(temporary_.c_str());
  return false;
}

}  // namespace nebla::tools
