// perch_text_floor: the least peak RSS a program of perch's kind can have with the libraries it
// draws with. It opens the X display, makes a GLib main loop, and draws the feedback's label
// ("I'm listening", semibold, 13 px, the user-interface font) with pango on a cairo image, as
// perch does; then prints its own peak RSS in kB (VmHWM) on one line. perch_bench prints the
// figure beside perch's.
#include <X11/Xlib.h>
#include <glib.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <fstream>
#include <string>

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1;
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 220, 144);
  cairo_t* cr = cairo_create(surface);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, "system-ui,sans-serif");
  pango_font_description_set_absolute_size(font, 13 * PANGO_SCALE);
  pango_font_description_set_weight(font, PANGO_WEIGHT_SEMIBOLD);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, "I'm listening", -1);
  cairo_set_source_rgb(cr, 1, 1, 1);
  pango_cairo_show_layout(cr, layout);
  cairo_surface_flush(surface);

  std::ifstream status("/proc/self/status");
  long peak = -1;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) peak = std::stol(line.substr(6));
  }
  std::printf("%ld\n", peak);

  pango_font_description_free(font);
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  g_main_loop_unref(loop);
  XCloseDisplay(display);
  return peak > 0 ? 0 : 1;
}
