// [Log] MaskKeys in settings.ini: the window hands it to the debug log when it starts, and
// writing the editor fields keeps the section.
#include <gtest/gtest.h>

#include <fstream>

#include "logging/dbg_logger.h"
#include "ui/settings_file.h"
#include "window_fixture.h"

namespace kiren {
namespace {

using test::TWindowTest;

TEST(SettingsFile, MaskKeysValues) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/settings.ini";
  EXPECT_FALSE(TSettingsFile(path).MaskKeys());  // no file
  const struct {
    const char* Ini;
    bool Mask;
  } cases[] = {
      {"[Log]\nMaskKeys=1\n", true},     {"[Log]\nMaskKeys=true\n", true},
      {"[Log]\nMaskKeys= Yes \n", true}, {"[Log]\nMaskKeys=on\n", true},
      {"[Log]\nMaskKeys=0\n", false},    {"[Log]\nMaskKeys=\n", false},
      {"[Log]\nMaskKeys=2\n", false},    {"[Common]\nMaskKeys=1\n", false},
      {"[Log]\nMaskKeys=1,1\n", false},  {"\xff\xfe[Log\nMaskKeys=1\n", false},
  };
  for (const auto& c : cases) {
    std::ofstream(path.toStdString(), std::ios::binary | std::ios::trunc) << c.Ini;
    EXPECT_EQ(TSettingsFile(path).MaskKeys(), c.Mask) << c.Ini;
  }
}

class TLogSettings : public TWindowTest {};

TEST_F(TLogSettings, TheWindowTakesMaskKeysAtStartAndKeepsTheSection) {
  SetMaskKeys(false);
  WriteSettings("[Common]\nBlockNo=8\n\n[Log]\nMaskKeys=1\n");
  CreateWindow();
  EXPECT_TRUE(GetMaskKeys());
  ASSERT_TRUE(TSettingsFile(SettingsPath()).Write({{"CardCode", "5"}}));
  EXPECT_TRUE(TSettingsFile(SettingsPath()).MaskKeys());
  Window.reset();

  WriteSettings("[Common]\nBlockNo=8\n");
  CreateWindow();
  EXPECT_FALSE(GetMaskKeys());  // off unless the file asks for it
}

}  // namespace
}  // namespace kiren
