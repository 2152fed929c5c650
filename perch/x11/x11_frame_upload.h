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

  // Rows for a picture of that size, `stride()` bytes apart, to draw the next frame into: the
  // same rows as the last frame's while the size stays, holding that frame. The server has read
  // every upload by then. Null when no memory could be had.
  std::uint8_t* frame(int width, int height);
  int stride() const;
  int width() const;
  int height() const;
  // Sends that part of the frame to the same place in the window. A shared frame is read by the
  // server after this returns; the server says when it is done, and frame() waits only if it is
  // not yet.
  void put(int x, int y, int width, int height);

 private:
  void release();
  // Returns once the server has read the shared frame.
  void waitForServer();
  bool attachShared(int width, int height);

  Display* display_;
  void* visual_;
  int depth_;
  unsigned long window_;
  GC gc_ = nullptr;
  bool usable_ = false;
  bool shmAvailable_ = false;
  bool shm_ = false;
  unsigned long pendingPut_ = 0;  // the request of the last shared upload, until it is read
  XImage* image_ = nullptr;
  void* shmInfo_ = nullptr;  // XShmSegmentInfo, kept out of this header
};

}  // namespace perch
