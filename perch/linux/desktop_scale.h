// How many pixels a point takes on this desktop, from what the X server publishes for its
// clients: the settings manager's XSETTINGS (Xft/DPI, Gdk/WindowScalingFactor) and the resource
// database's Xft.dpi. No X header: the X side reads the raw values and hands them here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace perch {

// What the server holds; each may be missing.
struct ScaleSettings {
  std::optional<double> settingsDpi;          // XSETTINGS Xft/DPI, in dots per inch
  std::optional<double> windowScalingFactor;  // XSETTINGS Gdk/WindowScalingFactor
  std::optional<double> resourceDpi;          // Xft.dpi in the root's RESOURCE_MANAGER
};

// The settings manager's Xft/DPI (it counts the window scaling and the text scaling in), then its
// window scaling factor, then the resource database's Xft.dpi, over 96 dots per inch; the first
// usable one wins. Below 1 or beyond 8 it is held at the nearer end; nothing usable gives 1.
double desktopScale(const ScaleSettings& settings);

// The integer setting `name` in an XSETTINGS property's bytes, or nothing when it is missing, is
// of another type or the bytes are malformed.
std::optional<std::int32_t> xsettingsInteger(const std::uint8_t* data, std::size_t size,
                                             std::string_view name);

}  // namespace perch
