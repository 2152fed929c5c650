#include "desktop_scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace perch {
namespace {

constexpr double kMinScale = 1, kMaxScale = 8;

bool usable(const std::optional<double>& v) { return v && std::isfinite(*v) && *v > 0; }

// Reads the XSETTINGS layout: a byte-order byte, three unused, the serial, the count, then each
// setting (type, unused, name length, name padded to four, last-change serial, value).
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool skip(std::size_t n) {
    if (n > size_ - at_) return false;
    at_ += n;
    return true;
  }
  bool byte(std::uint8_t& v) {
    if (at_ >= size_) return false;
    v = data_[at_++];
    return true;
  }
  bool card16(std::uint16_t& v) {
    std::uint8_t b[2];
    if (!bytes(b, 2)) return false;
    v = msbFirst ? std::uint16_t(b[0] << 8 | b[1]) : std::uint16_t(b[1] << 8 | b[0]);
    return true;
  }
  bool card32(std::uint32_t& v) {
    std::uint8_t b[4];
    if (!bytes(b, 4)) return false;
    v = msbFirst ? std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | b[2] << 8 | b[3]
                 : std::uint32_t(b[3]) << 24 | std::uint32_t(b[2]) << 16 | b[1] << 8 | b[0];
    return true;
  }
  const std::uint8_t* here() const { return data_ + at_; }
  bool msbFirst = false;

 private:
  bool bytes(std::uint8_t* out, std::size_t n) {
    if (n > size_ - at_) return false;
    std::memcpy(out, data_ + at_, n);
    at_ += n;
    return true;
  }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

std::size_t padded(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

}  // namespace

double desktopScale(const ScaleSettings& s) {
  std::optional<double> scale;
  if (usable(s.settingsDpi)) {
    scale = *s.settingsDpi / 96;
  } else if (usable(s.windowScalingFactor)) {
    scale = *s.windowScalingFactor;
  } else if (usable(s.resourceDpi)) {
    scale = *s.resourceDpi / 96;
  }
  return scale ? std::clamp(*scale, kMinScale, kMaxScale) : 1.0;
}

std::optional<std::int32_t> xsettingsInteger(const std::uint8_t* data, std::size_t size,
                                             std::string_view name) {
  Reader in(data, size);
  std::uint8_t order = 0;
  std::uint32_t count = 0;
  if (!in.byte(order) || order > 1) return std::nullopt;
  in.msbFirst = order == 1;
  if (!in.skip(3 + 4) || !in.card32(count)) return std::nullopt;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t type = 0;
    std::uint16_t length = 0;
    if (!in.byte(type) || !in.skip(1) || !in.card16(length)) return std::nullopt;
    const std::uint8_t* nameAt = in.here();
    if (!in.skip(padded(length)) || !in.skip(4)) return std::nullopt;
    const bool wanted = std::string_view(reinterpret_cast<const char*>(nameAt), length) == name;
    std::uint32_t value = 0;
    switch (type) {
      case 0:  // integer
        if (!in.card32(value)) return std::nullopt;
        if (wanted) return static_cast<std::int32_t>(value);
        break;
      case 1:  // string
        if (!in.card32(value) || !in.skip(padded(value))) return std::nullopt;
        break;
      case 2:  // colour: four 16-bit channels
        if (!in.skip(8)) return std::nullopt;
        break;
      default:
        return std::nullopt;
    }
    if (wanted) return std::nullopt;  // the name holds no integer
  }
  return std::nullopt;
}

}  // namespace perch
