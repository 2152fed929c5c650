// The picture's way to the window. Where the window's pixels are the picture's own words and the
// server has MIT-SHM and shares this machine's memory, the picture is drawn straight into a shared
// segment and the server reads it in place; elsewhere (a remote server, no extension, a segment
// the server cannot reach) the same pixels go through the connection with XPutImage. A window of
// another pixel format gets the picture converted: by the drawing library where its channels are
// packed, pixel by pixel here otherwise.
#pragma once

#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <vector>

#include "panel_drawing.h"

namespace perch {

class X11FrameUpload {
 public:
  // `visual`, `depth` and `colormap` are the window's.
  X11FrameUpload(Display* display, Visual* visual, int depth, Colormap colormap, Window window);
  ~X11FrameUpload();
  X11FrameUpload(const X11FrameUpload&) = delete;
  X11FrameUpload& operator=(const X11FrameUpload&) = delete;

  bool sharedMemory() const { return shm_; }

  // Rows for a picture of that size to draw the next frame into: the same rows as the last
  // frame's while the size stays, holding that frame. The server has read every upload by then.
  // Empty when no memory could be had.
  FramePixels frame(int width, int height);
  // The last frame's rows.
  const FramePixels& last() const { return frame_; }
  // Sends that part of the frame to the same place in the window; `drawing` converts it for a
  // window of another pixel format. A shared frame is read by the server after this returns; the
  // server says when it is done, and frame() waits only if it is not yet.
  void put(const PixelRect& area, PanelDrawing& drawing);

 private:
  void release();
  // Returns once the server has read the shared frame.
  void waitForServer();
  bool attachShared(int width, int height);
  void putConverted(const PixelRect& area, PanelDrawing& drawing);
  // The window's pixel for a colour of the picture, where the drawing cannot convert.
  unsigned long pixelOf(std::uint32_t argb);

  Display* display_;
  Visual* visual_;
  int depth_;
  Colormap colormap_;
  Window window_;
  GC gc_ = nullptr;
  bool converted_ = false;  // the window's pixels are not the picture's words
  bool shmAvailable_ = false;
  bool shm_ = false;
  unsigned long pendingPut_ = 0;  // the request of the last shared upload, until it is read
  XImage* image_ = nullptr;       // the frame, where the window takes its words
  void* shmInfo_ = nullptr;       // XShmSegmentInfo, kept out of this header
  FramePixels frame_;
  std::vector<std::uint8_t> picture_;    // the frame, where the window's pixels differ
  std::vector<std::uint32_t> outgoing_;  // a part of it in the window's format
  // Colours allocated in a colormap that is not true colour, by 3-3-2 bits of red, green, blue.
  static constexpr long kUnallocated = -1, kUnavailable = -2;
  std::array<long, 256> allocated_;
};

}  // namespace perch
