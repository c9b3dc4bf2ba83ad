// The video formats the capture tool writes, told by the file name's
// extension; shared by the command line and the video writer.
#pragma once

#include <optional>
#include <string>

namespace nebla::tools {

enum class VideoFormat { Mp4, WebM, Gif };

// The format a file name asks for by its extension (case ignored); none
// for any other name.
std::optional<VideoFormat> videoFormatOf(const std::string& path);

}  // namespace nebla::tools
