// The capture tool's command line: what it takes, what it refuses and the
// limit a run gets when it names none.
#include "capture_options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace nebla::tools {
namespace {

struct Parsed {
  ParseResult result;
  CaptureOptions options;
  std::string message;
};

Parsed parse(std::initializer_list<const char*> args, bool filesBuilt = true) {
  std::vector<const char*> argv{"nebla-capture"};
  argv.insert(argv.end(), args);
  Parsed p;
  p.result = parseCaptureOptions(static_cast<int>(argv.size()), argv.data(), filesBuilt, p.options,
                                 p.message);
  return p;
}

TEST(CaptureOptions, TakesEveryOptionWithItsValue) {
  Parsed p = parse({"--script", "s.txt", "--text", "-", "--frames", "4294967295", "--seconds",
                    "1.0005", "--png", "out", "--every", "3", "--hash", "--time", "--fail",
                    "Lock#2=5", "--fail", "Flip"});
  ASSERT_EQ(p.result, ParseResult::Run) << p.message;
  EXPECT_EQ(p.options.script, "s.txt");
  EXPECT_EQ(p.options.text, "-");
  EXPECT_EQ(p.options.frames, 4294967295u);
  EXPECT_EQ(p.options.limitMs, 1001u) << "seconds round up to whole milliseconds";
  EXPECT_EQ(p.options.pngDir, "out");
  EXPECT_EQ(p.options.every, 3u);
  EXPECT_TRUE(p.options.hash && p.options.time);
  ASSERT_EQ(p.options.faults.size(), 2u);
  EXPECT_EQ(p.options.faults[0].call, "Lock");
  EXPECT_EQ(p.options.faults[0].occurrence, 2u);
  EXPECT_EQ(p.options.faults[1].call, "Flip");
}

TEST(CaptureOptions, ARunWithoutFramesOrSecondsGetsTenVirtualMinutes) {
  EXPECT_EQ(parse({}).options.limitMs, 600000u);
  EXPECT_EQ(parse({"--hash"}).options.limitMs, 600000u);
  Parsed framesOnly = parse({"--frames", "7"});
  EXPECT_FALSE(framesOnly.options.limitMs.has_value()) << "--frames alone sets no time limit";
  EXPECT_EQ(parse({"--seconds", "2"}).options.limitMs, 2000u);
}

TEST(CaptureOptions, RefusesBadNumbersWithTheOptionAndValueNamed) {
  for (const char* frames :
       {"0", "-1", "+3", " 3", "3x", "", "4294967296", "99999999999", "0x10"}) {
    Parsed p = parse({"--frames", frames});
    EXPECT_EQ(p.result, ParseResult::Refused) << "--frames '" << frames << "'";
    EXPECT_NE(p.message.find("--frames"), std::string::npos) << p.message;
  }
  for (const char* seconds :
       {"0", "0.000", "-2", "nan", "inf", "1e3", "2073600.001", "1.2.3", "."}) {
    EXPECT_EQ(parse({"--seconds", seconds}).result, ParseResult::Refused)
        << "--seconds '" << seconds << "'";
  }
  EXPECT_EQ(parse({"--seconds", "2073600"}).options.limitMs, 2073600000u) << "the largest limit";
  EXPECT_EQ(parse({"--every", "0"}).result, ParseResult::Refused);
  EXPECT_EQ(parse({"--script", ""}).result, ParseResult::Refused);
  EXPECT_EQ(parse({"--png", ""}).result, ParseResult::Refused);
}

TEST(CaptureOptions, RefusesUnknownOptionsMissingValuesAndUnknownCalls) {
  Parsed unknown = parse({"--frames", "3", "--fps", "20"});
  EXPECT_EQ(unknown.result, ParseResult::Refused);
  EXPECT_NE(unknown.message.find("'--fps'"), std::string::npos) << unknown.message;
  EXPECT_EQ(parse({"frames"}).result, ParseResult::Refused) << "a bare word is not an option";
  Parsed missing = parse({"--hash", "--script"});
  EXPECT_EQ(missing.result, ParseResult::Refused);
  EXPECT_EQ(missing.message, "--script needs a value");
  Parsed typo = parse({"--fail", "Flp"});
  EXPECT_EQ(typo.result, ParseResult::Refused);
  EXPECT_NE(typo.message.find(" Flip "), std::string::npos)
      << "the known calls are listed: " << typo.message;
  EXPECT_TRUE(typo.options.faults.empty());
}

TEST(CaptureOptions, VideoTakesItsFormatFromTheNameAndAScaleOfOneToFour) {
  Parsed p = parse({"--video", "out/Demo.MP4", "--scale", "4", "--record", "again.script"});
  ASSERT_EQ(p.result, ParseResult::Run) << p.message;
  EXPECT_EQ(p.options.video, "out/Demo.MP4");
  EXPECT_EQ(p.options.scale, 4u);
  EXPECT_EQ(p.options.record, "again.script");
  EXPECT_EQ(videoFormatOf("a.webm"), VideoFormat::WebM);
  EXPECT_EQ(videoFormatOf("a.gif"), VideoFormat::Gif);
  for (const char* name : {"out.avi", "mp4", "dir.mp4/video", "out.", ""}) {
    Parsed bad = parse({"--video", name});
    EXPECT_EQ(bad.result, ParseResult::Refused) << name;
  }
  EXPECT_NE(parse({"--video", "out.avi"}).message.find(".mp4, .webm or .gif"), std::string::npos);
  for (const char* scale : {"0", "5", "-1", "2.5"})
    EXPECT_EQ(parse({"--video", "v.mp4", "--scale", scale}).result, ParseResult::Refused) << scale;
  Parsed alone = parse({"--scale", "2"});
  EXPECT_EQ(alone.result, ParseResult::Refused);
  EXPECT_EQ(alone.message, "--scale applies to --video only");
}

TEST(CaptureOptions, HelpWinsAndPngNeedsTheNativeBuild) {
  EXPECT_EQ(parse({"--frames", "3", "--help", "--bogus"}).result, ParseResult::Help);
  Parsed png = parse({"--png", "out"}, false);
  EXPECT_EQ(png.result, ParseResult::Refused);
  EXPECT_NE(png.message.find("--png"), std::string::npos);
  Parsed video = parse({"--video", "v.mp4"}, false);
  EXPECT_EQ(video.result, ParseResult::Refused);
  EXPECT_EQ(video.message,
            "--video FILE: this build writes no PNG files or videos; the Linux build does");
}

TEST(CaptureOptions, AutopilotTakesAnyThirtyTwoBitSeedAndVersionAnswers) {
  EXPECT_EQ(parse({"--autopilot", "0"}).options.autopilot, 0u);
  EXPECT_EQ(parse({"--autopilot", "4294967295"}).options.autopilot, 4294967295u);
  EXPECT_FALSE(parse({}).options.autopilot);
  for (const char* seed : {"", "-1", "4294967296", "x", "1.5"})
    EXPECT_EQ(parse({"--autopilot", seed}).result, ParseResult::Refused) << seed;
  EXPECT_EQ(parse({"--hash", "--version"}).result, ParseResult::Version);
}

}  // namespace
}  // namespace nebla::tools
