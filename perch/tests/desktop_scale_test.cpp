// The desktop's scale from the settings the X server holds, and the XSETTINGS bytes it is read
// from.
#include "desktop_scale.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace perch {
namespace {

TEST(DesktopScaleTest, SettingsManagerFirstThenResourceDatabase) {
  struct Case {
    ScaleSettings settings;
    double scale;
  };
  const Case cases[] = {
      {{}, 1},
      {{std::nullopt, std::nullopt, 192}, 2},
      {{std::nullopt, std::nullopt, 144}, 1.5},
      {{std::nullopt, std::nullopt, 120}, 1.25},
      {{std::nullopt, std::nullopt, 168}, 1.75},
      {{std::nullopt, 2, 144}, 2},  // the manager's factor over the database
      {{144, 2, 192}, 1.5},         // its Xft/DPI over both
      {{0, std::nullopt, 192}, 2},  // unusable values are passed over
      {{std::nullopt, -1, 144}, 1.5},
      {{std::nullopt, std::nullopt, 72}, 1},  // never below a pixel a point
      {{std::nullopt, std::nullopt, 96000}, 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(desktopScale(c.settings), c.scale)
        << c.settings.settingsDpi.value_or(-9) << " " << c.settings.windowScalingFactor.value_or(-9)
        << " " << c.settings.resourceDpi.value_or(-9);
  }
}

// XSETTINGS bytes in either byte order: a string, a colour, then integers.
std::vector<std::uint8_t> settingsBytes(bool msbFirst) {
  std::vector<std::uint8_t> b;
  auto card = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      const int shift = 8 * (msbFirst ? bytes - 1 - i : i);
      b.push_back(static_cast<std::uint8_t>(v >> shift));
    }
  };
  auto name = [&](int type, const std::string& n) {
    b.push_back(static_cast<std::uint8_t>(type));
    b.push_back(0);
    card(static_cast<std::uint32_t>(n.size()), 2);
    b.insert(b.end(), n.begin(), n.end());
    while (b.size() % 4 != 0) b.push_back(0);
    card(7, 4);  // last change
  };
  b = {static_cast<std::uint8_t>(msbFirst), 0, 0, 0};
  card(3, 4);  // serial
  card(4, 4);  // settings
  name(1, "Net/ThemeName");
  card(5, 4);
  b.insert(b.end(), {'A', 'd', 'w', 'a', 'i', 't', 'a', 0});
  name(2, "Gtk/Colour");
  card(0x1234, 4);
  card(0x5678, 4);
  name(0, "Gdk/WindowScalingFactor");
  card(2, 4);
  name(0, "Xft/DPI");
  card(147456, 4);
  return b;
}

TEST(DesktopScaleTest, IntegersAreFoundInXSettingsOfEitherByteOrder) {
  for (bool msbFirst : {false, true}) {
    const auto b = settingsBytes(msbFirst);
    EXPECT_EQ(xsettingsInteger(b.data(), b.size(), "Xft/DPI"), 147456) << msbFirst;
    EXPECT_EQ(xsettingsInteger(b.data(), b.size(), "Gdk/WindowScalingFactor"), 2) << msbFirst;
    EXPECT_EQ(xsettingsInteger(b.data(), b.size(), "Net/ThemeName"), std::nullopt);
    EXPECT_EQ(xsettingsInteger(b.data(), b.size(), "Xft/Hinting"), std::nullopt);
    // Cut anywhere before its end, the last setting is not found; nothing is read past the cut.
    for (std::size_t size = 0; size < b.size(); ++size) {
      const std::vector<std::uint8_t> cut(b.begin(), b.begin() + size);
      EXPECT_EQ(xsettingsInteger(cut.data(), cut.size(), "Xft/DPI"), std::nullopt) << size;
    }
  }
  auto bad = settingsBytes(false);
  bad[0] = 2;  // no byte order
  EXPECT_EQ(xsettingsInteger(bad.data(), bad.size(), "Xft/DPI"), std::nullopt);
  bad = settingsBytes(false);
  bad[8] = 0xff;  // more settings than there are bytes
  EXPECT_EQ(xsettingsInteger(bad.data(), bad.size(), "Xft/Hinting"), std::nullopt);
}

}  // namespace
}  // namespace perch
