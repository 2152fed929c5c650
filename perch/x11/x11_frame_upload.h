// The picture's way to the window. Where the server has MIT-SHM and shares this machine's memory,
// the picture is drawn straight into a shared segment and the server reads it in place; elsewhere
// (a remote server, no extension, a segment the server cannot reach) the same pixels go through
// the connection with XPutImage.
#pragma once

#include <cstdint>

typedef struct _XDisplay Display;
typedef struct _XImage XImage;
typedef struct _XGC* GC;

namespace perch {

class X11FrameUpload {
 public:
  // `visual` and `depth` are the window's; usable() is false when its pixels are not laid out as
  // 32-bit 0xAARRGGBB words (the picture's own layout), and the caller shows the picture otherwise.
  X11FrameUpload(Display* display, void* visual, int depth, unsigned long window);
  ~X11FrameUpload();
  X11FrameUpload(const X11FrameUpload&) = delete;
  X11FrameUpload& operator=(const X11FrameUpload&) = delete;

  bool usable() const { return usable_; }
  bool sharedMemory() const { return shm_; }

  // Rows for a picture of that size, `stride()` bytes apart, to draw the next frame into. The
  // previous upload has been read by the server by then. Null when no memory could be had.
  std::uint8_t* frame(int width, int height);
  int stride() const;
  // Sends the whole frame to the window's top-left corner.
  void put();

 private:
  void release();
  bool attachShared(int width, int height);

  Display* display_;
  void* visual_;
  int depth_;
  unsigned long window_;
  GC gc_ = nullptr;
  bool usable_ = false;
  bool shmAvailable_ = false;
  bool shm_ = false;
  bool uploadPending_ = false;
  XImage* image_ = nullptr;
  void* shmInfo_ = nullptr;  // XShmSegmentInfo, kept out of this header
};

}  // namespace perch
