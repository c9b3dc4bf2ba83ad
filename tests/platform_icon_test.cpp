// The program's icon file unpacked for a window, and damaged icon files
// turned away without reading past their ends.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/icon.h"

namespace nebla::platform {
namespace {

std::vector<unsigned char> iconFile() {
  std::ifstream in(NEBLA_SOURCE_DIR "/resources/nebla.ico", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Icon, TheProgramIconGivesItsLargestPictureOpaqueSomewhere) {
  std::vector<unsigned char> file = iconFile();
  ASSERT_FALSE(file.empty());
  IconImage icon = decodeIcon(file);
  EXPECT_EQ(icon.width, 48);
  EXPECT_EQ(icon.height, 48);
  EXPECT_EQ(icon.bgra.size(), static_cast<std::size_t>(icon.width * icon.height * 4));
  bool opaque = false;
  for (std::size_t i = 3; i < icon.bgra.size(); i += 4) opaque = opaque || icon.bgra[i] == 0xFF;
  EXPECT_TRUE(opaque);
}

TEST(Icon, DamagedFilesGiveNoPicture) {
  std::vector<unsigned char> file = iconFile();
  ASSERT_GT(file.size(), 22u);
  EXPECT_EQ(decodeIcon({}).width, 0);
  std::vector<unsigned char> cut(file.begin(), file.begin() + 22);  // directory only
  EXPECT_EQ(decodeIcon(cut).width, 0);
  std::vector<unsigned char> wrongType = file;
  wrongType[2] = 2;  // a cursor file
  EXPECT_EQ(decodeIcon(wrongType).width, 0);
  std::vector<unsigned char> farOffset = file;
  farOffset[6 + 2 * 16 + 12 + 3] = 0x7F;       // the largest picture lies far past the end
  EXPECT_EQ(decodeIcon(farOffset).width, 32);  // the next largest stands in
}

}  // namespace
}  // namespace nebla::platform
