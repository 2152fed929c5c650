// A canvas that keeps a list of what was drawn on it, for checking the drawing's arithmetic
// without rendering anything; and an image of any size, including sizes no file could have.
#pragma once

#include <string>
#include <vector>

#include "canvas.h"

namespace perch {

struct DrawCall {
  enum class Kind { save, restore, clip, fill, stroke, gradient, text, image };
  Kind kind = Kind::save;
  Path path;             // clip, fill, stroke, gradient
  Rect rect;             // the path's bounds, or the image's rectangle
  Color color;           // fill, stroke, text; the centre colour of a gradient
  Color edge;            // a gradient's edge colour
  double lineWidth = 0;  // stroke
  std::string text;      // text
  Font font;             // text
  Point origin;          // text
};

class RecordingCanvas final : public Canvas {
 public:
  // What measureText answers, whatever the text.
  Size textSize{80.5, 16.25};
  std::vector<DrawCall> calls;
  std::vector<std::string> measured;

  void save() override { record(DrawCall::Kind::save); }
  void restore() override { record(DrawCall::Kind::restore); }
  void clip(const Path& path) override { record(DrawCall::Kind::clip, &path); }
  void fillPath(const Path& path, const Color& color) override {
    record(DrawCall::Kind::fill, &path).color = color;
  }
  void strokePath(const Path& path, const Color& color, double lineWidth) override {
    DrawCall& c = record(DrawCall::Kind::stroke, &path);
    c.color = color;
    c.lineWidth = lineWidth;
  }
  void fillRadialGradient(const Path& path, const Color& center, const Color& edge) override {
    DrawCall& c = record(DrawCall::Kind::gradient, &path);
    c.color = center;
    c.edge = edge;
  }
  Size measureText(std::string_view text, const Font&) override {
    measured.emplace_back(text);
    return textSize;
  }
  void drawText(std::string_view text, const Font& font, const Color& color,
                Point origin) override {
    DrawCall& c = record(DrawCall::Kind::text);
    c.text = text;
    c.font = font;
    c.color = color;
    c.origin = origin;
  }
  void drawImage(const CanvasImage&, const Rect& rect) override {
    record(DrawCall::Kind::image).rect = rect;
  }

  // A layer here is the drawing itself, replayed each time it is shown.
  struct Replay final : CanvasLayer {
    std::function<void(Canvas&)> paint;
  };
  std::unique_ptr<CanvasLayer> makeLayer(const Rect&, std::function<void(Canvas&)> paint) override {
    auto layer = std::make_unique<Replay>();
    layer->paint = std::move(paint);
    return layer;
  }
  bool drawLayer(const CanvasLayer& layer) override {
    const auto* replay = dynamic_cast<const Replay*>(&layer);
    if (replay == nullptr) return false;
    replay->paint(*this);
    return true;
  }

  std::vector<DrawCall::Kind> kinds() const {
    std::vector<DrawCall::Kind> k;
    for (const DrawCall& c : calls) k.push_back(c.kind);
    return k;
  }

 private:
  DrawCall& record(DrawCall::Kind kind, const Path* path = nullptr) {
    DrawCall& c = calls.emplace_back();
    c.kind = kind;
    if (path != nullptr) {
      c.path = *path;
      c.rect = path->bounds();
    }
    return c;
  }
};

class FakeImage final : public CanvasImage {
 public:
  explicit FakeImage(Size size) : size_(size) {}
  Size size() const override { return size_; }

 private:
  Size size_;
};

}  // namespace perch
