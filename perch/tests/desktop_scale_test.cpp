// The desktop's scale from the settings the X server holds, and the XSETTINGS bytes it is read
// from.
#include "desktop_scale.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace perch {
namespace {

TEST(DesktopScaleTest, SettingsManagerFirstThenResourceDatabase) {
  const std::optional<double> none;
  const std::pair<ScaleSettings, double> cases[] = {
      {{}, 1},
      {{none, none, 192}, 2},
      {{none, none, 144}, 1.5},
      {{none, none, 120}, 1.25},
      {{none, 2, 144}, 2},     // the manager's factor over the database
      {{144, 2, 192}, 1.5},    // its Xft/DPI over both
      {{0, none, 168}, 1.75},  // unusable values are passed over
      {{none, -1, 144}, 1.5},
      {{none, none, 72}, 1},  // never below a pixel a point
      {{none, none, 96000}, 8},
  };
  for (const auto& [settings, scale] : cases) {
    EXPECT_EQ(desktopScale(settings), scale) << settings.resourceDpi.value_or(-1);
  }
}

// XSETTINGS of either byte order: a string, a colour, then two integers.
std::vector<std::uint8_t> settingsBytes(bool msb) {
  std::vector<std::uint8_t> b{std::uint8_t(msb), 0, 0, 0};
  auto card = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(std::uint8_t(v >> 8 * (msb ? n - 1 - i : i)));
  };
  auto setting = [&](int type, const std::string& name) {
    b.insert(b.end(), {std::uint8_t(type), 0});
    card(std::uint32_t(name.size()), 2);
    b.insert(b.end(), name.begin(), name.end());
    b.resize((b.size() + 3) / 4 * 4);
    card(7, 4);  // last change
  };
  card(3, 4);  // serial
  card(4, 4);  // settings
  setting(1, "Net/ThemeName");
  card(5, 4);
  b.insert(b.end(), {'A', 'd', 'w', 'a', 'i', 't', 'a', 0});
  setting(2, "Gtk/Colour");
  card(0x12345678, 4);
  card(0x9abcdef0, 4);
  setting(0, "Gdk/WindowScalingFactor");
  card(2, 4);
  setting(0, "Xft/DPI");
  card(147456, 4);
  return b;
}

TEST(DesktopScaleTest, IntegersAreFoundInXSettingsOfEitherByteOrderAndNeverPastTheEnd) {
  for (bool msb : {false, true}) {
    auto b = settingsBytes(msb);
    EXPECT_EQ(xsettingsInteger(b.data(), b.size(), "Xft/DPI"), 147456);
    EXPECT_EQ(xsettingsInteger(b.data(), b.size(), "Gdk/WindowScalingFactor"), 2);
    EXPECT_EQ(xsettingsInteger(b.data(), b.size(), "Net/ThemeName"), std::nullopt);
    EXPECT_EQ(xsettingsInteger(b.data(), b.size(), "Xft/Hinting"), std::nullopt);
    for (std::size_t size = 0; size < b.size(); ++size) {  // cut: the last one is never found
      const std::vector<std::uint8_t> cut(b.begin(), b.begin() + size);
      EXPECT_EQ(xsettingsInteger(cut.data(), cut.size(), "Xft/DPI"), std::nullopt) << size;
    }
    b[0] = 2;  // no byte order
    EXPECT_EQ(xsettingsInteger(b.data(), b.size(), "Xft/DPI"), std::nullopt);
  }
}

}  // namespace
}  // namespace perch
