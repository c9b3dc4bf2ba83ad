// Fault rules: parsing, matching by name and occurrence, and what failing
// calls report.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/gdi.h"
#include "platform/kernel.h"
#include "platform_support.h"

namespace nebla::platform::testing {
namespace {

using PlatformFault = PlatformTest;

TEST(PlatformFaultRule, ParsesNameOccurrenceAndResult) {
  FaultRule rule;
  ASSERT_TRUE(parseFaultRule("Lock", rule));
  EXPECT_EQ(rule.call, "Lock");
  EXPECT_EQ(rule.occurrence, 0u);
  EXPECT_FALSE(rule.result.has_value());

  ASSERT_TRUE(parseFaultRule("Lock#3", rule));
  EXPECT_EQ(rule.occurrence, 3u);
  EXPECT_FALSE(rule.result.has_value());

  ASSERT_TRUE(parseFaultRule("SetTimer=2", rule));
  EXPECT_EQ(rule.call, "SetTimer");
  EXPECT_EQ(rule.result, 2);

  ASSERT_TRUE(parseFaultRule("Flip#2=0x887601C2", rule));
  EXPECT_EQ(rule.call, "Flip");
  EXPECT_EQ(rule.occurrence, 2u);
  EXPECT_EQ(rule.result, 0x887601C2);
  EXPECT_EQ(static_cast<HRESULT>(*rule.result), DDERR_SURFACELOST);

  ASSERT_TRUE(parseFaultRule("GetDIBColorTable=-1", rule));
  EXPECT_EQ(rule.result, -1);
}

TEST(PlatformFaultRule, RejectsMalformedRules) {
  FaultRule rule;
  for (const char* bad : {"", "#3", "=2", "Lock#", "Lock#0", "Lock#x", "Lock=", "Lock=0x", "Lo ck",
                          "Lock#3=zz", "Lock#-1", "Lock=12abc"})
    EXPECT_FALSE(parseFaultRule(bad, rule)) << bad;
}

TEST(PlatformFaultRule, RejectsNamesNoCallAnswersTo) {
  FaultRule rule;
  for (const char* unknown : {"Bogus", "lock", "Locks", "Lock_", "SetDisplayMode2", "Bogus#2=1"})
    EXPECT_FALSE(parseFaultRule(unknown, rule)) << unknown;
  for (std::string_view call : faultableCalls()) EXPECT_TRUE(parseFaultRule(call, rule)) << call;
}

// The names in quotes right after `checkFault(` or `injectedFault<T>(`.
void collectAskedNames(const std::string& text, std::set<std::string>& names) {
  for (std::size_t at = text.find("(\""); at != std::string::npos; at = text.find("(\"", at + 2)) {
    std::string before = text.substr(at >= 40 ? at - 40 : 0, at >= 40 ? 40 : at);
    bool asks = before.ends_with("checkFault") ||
                (before.ends_with(">") && before.find("injectedFault<") != std::string::npos);
    std::size_t end = text.find('"', at + 2);
    if (asks && end != std::string::npos) names.insert(text.substr(at + 2, end - at - 2));
  }
}

// The list of names is kept by hand: every call that asks for a fault in
// the platform's sources must be on it, and nothing else.
TEST(PlatformFaultRule, TheNamesAreExactlyTheCallsThatAskForFaults) {
  std::set<std::string> asked;
  for (const auto& entry : std::filesystem::directory_iterator(NEBLA_SOURCE_DIR "/src/platform")) {
    if (entry.path().extension() != ".cpp") continue;
    std::ifstream in(entry.path());
    collectAskedNames(
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), asked);
  }
  std::vector<std::string> listed(faultableCalls().begin(), faultableCalls().end());
  EXPECT_EQ(listed.size(), 50u);
  EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
  EXPECT_EQ(std::vector<std::string>(asked.begin(), asked.end()), listed);
}

TEST_F(PlatformFault, FailsOnlyTheChosenOccurrenceOfTheNamedCall) {
  IDirectDraw* dd = openDisplay();
  IDirectDrawSurface* s = offscreen(dd, 4, 4);
  injectFault({"Lock", 2, std::nullopt});
  DDSURFACEDESC desc{};
  desc.dwSize = kSurfaceDescSize;
  EXPECT_EQ(s->Lock(nullptr, &desc, 0, nullptr), DD_OK);
  EXPECT_EQ(s->Unlock(nullptr), DD_OK);
  EXPECT_EQ(s->Lock(nullptr, &desc, 0, nullptr), DDERR_GENERIC);
  EXPECT_EQ(s->Unlock(nullptr), DDERR_NOTLOCKED) << "the failed lock took nothing";
  EXPECT_EQ(s->Lock(nullptr, &desc, 0, nullptr), DD_OK);
  EXPECT_EQ(callCount("Lock"), 3u);
  EXPECT_EQ(callCount("Unlock"), 2u);
  dd->Release();
}

TEST_F(PlatformFault, ChosenResultIsReturnedAndTheCallDoesNothing) {
  IDirectDraw* dd = openDisplay(4, 4);
  IDirectDrawSurface* front = primary(dd);
  FaultRule rule;
  ASSERT_TRUE(parseFaultRule("Flip#2=0x887601C2", rule));
  injectFault(rule);
  frames.clear();
  EXPECT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
  EXPECT_EQ(frames.size(), 1u);
  EXPECT_EQ(backend().flipCount(), 1u);
  dd->Release();
}

TEST_F(PlatformFault, WindowAndGdiCallsReportTheirUsualFailures) {
  injectFault({"SetTimer", 0, 2});
  EXPECT_EQ(SetTimer(nullptr, 1, 50, nullptr), 2u);

  injectFault({"CreateWindowExA", 1, 1400});
  EXPECT_EQ(CreateWindowExA(0, "x", "x", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), 1400u);

  injectFault({"CreateCompatibleDC", 0, std::nullopt});
  EXPECT_EQ(CreateCompatibleDC(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);

  injectFault({"SelectObject", 0, std::nullopt});
  EXPECT_EQ(SelectObject(nullptr, nullptr), HGDI_ERROR);
  injectFault({"GetDIBColorTable", 0, std::nullopt});
  RGBQUAD table[4];
  EXPECT_EQ(GetDIBColorTable(nullptr, 0, 4, table), 0u);

  injectFault({"GetTickCount", 0, 0xFFFFFFF0});
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);

  injectFault({"ShowCursor", 0, std::nullopt});
  EXPECT_EQ(ShowCursor(FALSE), 0) << "the counter did not move";
  clearFaults();
  EXPECT_EQ(ShowCursor(FALSE), -1);
}

}  // namespace
}  // namespace nebla::platform::testing
