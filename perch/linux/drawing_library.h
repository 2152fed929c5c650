// The drawing library (cairo, pango, FreeType and the rest of the drawing stack, with perch's
// canvas), installed beside perch and opened once it is needed: start-up maps only Xlib and GLib.
#pragma once

#include <memory>
#include <string>

#include "panel_drawing.h"

namespace perch {

// Where this perch's drawing library lies: at the same place relative to the program as the
// build and the installation put it.
std::string drawingLibraryPath();

// Whether the drawing library is there to be opened: checked before perch says it is ready.
bool drawingLibraryPresent();

// Opens the library (once per process; it is never closed) and makes a drawing, or nothing when
// it cannot be opened or is not this build's.
std::unique_ptr<PanelDrawing> openDrawingLibrary();

}  // namespace perch
