// Video formats by their file names.
#include "video_format.h"

#include <algorithm>
#include <cctype>

namespace nebla::tools {
namespace {

std::string lowerExtension(const std::string& path) {
  std::size_t dot = path.find_last_of('.');
  std::size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

}  // namespace

std::optional<VideoFormat> videoFormatOf(const std::string& path) {
  std::string ext = lowerExtension(path);
  if (ext == "mp4") return VideoFormat::Mp4;
  if (ext == "webm") return VideoFormat::WebM;
  if (ext == "gif") return VideoFormat::Gif;
  return std::nullopt;
}

}  // namespace nebla::tools
