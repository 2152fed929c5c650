#include "drawing_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace perch {

std::string drawingLibraryPath() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return {};
  std::string path(self, static_cast<std::size_t>(length));
  path.resize(path.rfind('/') + 1);
  return path + PERCH_DRAWING_LIBRARY;
}

bool drawingLibraryPresent() {
  const std::string path = drawingLibraryPath();
  return !path.empty() && access(path.c_str(), R_OK) == 0;
}

std::unique_ptr<PanelDrawing> openDrawingLibrary() {
  const std::string path = drawingLibraryPath();
  if (path.empty()) return nullptr;
  // Local: its symbols (and those of the libraries it brings) resolve nothing of perch's own.
  // Never closed: the GObject types pango registers outlive any handle.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) return nullptr;
#define PERCH_NAME_OF(entry) #entry
#define PERCH_NAME(entry) PERCH_NAME_OF(entry)
  auto* make =
      reinterpret_cast<PanelDrawing* (*)()>(dlsym(handle, PERCH_NAME(PERCH_PANEL_DRAWING_ENTRY)));
#undef PERCH_NAME
#undef PERCH_NAME_OF
  if (make == nullptr) return nullptr;
  return std::unique_ptr<PanelDrawing>(make());
}

}  // namespace perch
