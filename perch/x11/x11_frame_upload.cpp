#include "x11_frame_upload.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>

#include <bit>
#include <cstdlib>
#include <cstring>

namespace perch {
namespace {

// Shared memory only helps, and only works, when the server runs on this machine: its connection
// is then a local (Unix) socket.
bool localConnection(Display* display) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getpeername(ConnectionNumber(display), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return false;
  return address.ss_family == AF_UNIX;
}

// The byte order of this machine's words, in Xlib's terms.
int nativeImageByteOrder() {
  return std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
}

bool nativeByteOrder(Display* display) { return ImageByteOrder(display) == nativeImageByteOrder(); }

}  // namespace

X11FrameUpload::X11FrameUpload(Display* display, void* visual, int depth, unsigned long window)
    : display_(display), visual_(visual), depth_(depth), window_(window) {
  auto* v = static_cast<Visual*>(visual);
  usable_ = (depth == 32 || depth == 24) && v->red_mask == 0xff0000 && v->green_mask == 0xff00 &&
            v->blue_mask == 0xff;
  if (!usable_) return;
  gc_ = XCreateGC(display_, window_, 0, nullptr);
  shmAvailable_ =
      XShmQueryExtension(display_) && localConnection(display_) && nativeByteOrder(display_);
}

X11FrameUpload::~X11FrameUpload() {
  release();
  if (gc_ != nullptr) XFreeGC(display_, gc_);
}

void X11FrameUpload::waitForServer() {
  if (pendingPut_ == 0) return;
  // Any event or reply raised after the upload's request means the server has handled it: the
  // completion event that the upload asked for, or anything else. Read what has come; only when
  // none of it says so, ask and wait.
  if (LastKnownRequestProcessed(display_) < pendingPut_) XEventsQueued(display_, QueuedAfterFlush);
  if (LastKnownRequestProcessed(display_) < pendingPut_) XSync(display_, False);
  pendingPut_ = 0;
}

void X11FrameUpload::release() {
  if (image_ == nullptr) return;
  waitForServer();
  if (shm_) {
    auto* info = static_cast<XShmSegmentInfo*>(shmInfo_);
    XShmDetach(display_, info);
    XSync(display_, False);
    shmdt(info->shmaddr);
    delete info;
    shmInfo_ = nullptr;
    image_->data = nullptr;
    XDestroyImage(image_);
  } else {
    std::free(image_->data);
    image_->data = nullptr;
    XDestroyImage(image_);
  }
  image_ = nullptr;
  shm_ = false;
}

bool X11FrameUpload::attachShared(int width, int height) {
  auto* info = new XShmSegmentInfo{};
  XImage* image = XShmCreateImage(display_, static_cast<Visual*>(visual_), depth_, ZPixmap, nullptr,
                                  info, width, height);
  if (image == nullptr || image->bits_per_pixel != 32) {
    if (image != nullptr) XDestroyImage(image);
    delete info;
    return false;
  }
  const size_t size = static_cast<size_t>(image->bytes_per_line) * height;
  info->shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  void* address = info->shmid >= 0 ? shmat(info->shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
  if (address == reinterpret_cast<void*>(-1)) {
    if (info->shmid >= 0) shmctl(info->shmid, IPC_RMID, nullptr);
    XDestroyImage(image);
    delete info;
    return false;
  }
  info->shmaddr = image->data = static_cast<char*>(address);
  info->readOnly = True;
  XShmAttach(display_, info);
  XSync(display_, False);
  // Gone as soon as both sides detach, even if perch dies.
  shmctl(info->shmid, IPC_RMID, nullptr);

  // A server that cannot reach the segment (another machine's or container's memory) refuses the
  // attach with an error that the quiet handler swallows: put a known pixel through the segment
  // and read it back to know.
  const std::uint32_t known = 0xff12ab34;
  std::memcpy(image->data, &known, 4);
  Pixmap probe = XCreatePixmap(display_, window_, 1, 1, depth_);
  XShmPutImage(display_, probe, gc_, image, 0, 0, 0, 0, 1, 1, False);
  XImage* back = XGetImage(display_, probe, 0, 0, 1, 1, AllPlanes, ZPixmap);
  const bool reached = back != nullptr && (XGetPixel(back, 0, 0) & 0xffffff) == (known & 0xffffff);
  if (back != nullptr) XDestroyImage(back);
  XFreePixmap(display_, probe);
  if (!reached) {
    XShmDetach(display_, info);
    XSync(display_, False);
    shmdt(address);
    image->data = nullptr;
    XDestroyImage(image);
    delete info;
    shmAvailable_ = false;
    return false;
  }
  image_ = image;
  shmInfo_ = info;
  shm_ = true;
  return true;
}

std::uint8_t* X11FrameUpload::frame(int width, int height) {
  if (!usable_ || width <= 0 || height <= 0) return nullptr;
  if (image_ != nullptr && (image_->width != width || image_->height != height)) release();
  if (image_ == nullptr) {
    if (!(shmAvailable_ && attachShared(width, height))) {
      const int stride = width * 4;
      auto* data = static_cast<char*>(std::malloc(static_cast<size_t>(stride) * height));
      if (data == nullptr) return nullptr;
      image_ = XCreateImage(display_, static_cast<Visual*>(visual_), depth_, ZPixmap, 0, data,
                            width, height, 32, stride);
      if (image_ == nullptr) {
        std::free(data);
        return nullptr;
      }
      // The picture's words as this machine holds them; Xlib converts for the server.
      image_->byte_order = nativeImageByteOrder();
    }
  }
  // The server reads a shared frame after the request; it must be done before the next one.
  waitForServer();
  return reinterpret_cast<std::uint8_t*>(image_->data);
}

int X11FrameUpload::stride() const { return image_ != nullptr ? image_->bytes_per_line : 0; }
int X11FrameUpload::width() const { return image_ != nullptr ? image_->width : 0; }
int X11FrameUpload::height() const { return image_ != nullptr ? image_->height : 0; }

void X11FrameUpload::put(int x, int y, int width, int height) {
  if (image_ == nullptr || width <= 0 || height <= 0) return;
  const unsigned w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  if (shm_) {
    // With a completion event: the main loop reads it as it comes, so the next frame seldom has
    // to wait for the server.
    pendingPut_ = NextRequest(display_);
    XShmPutImage(display_, window_, gc_, image_, x, y, x, y, w, h, True);
  } else {
    XPutImage(display_, window_, gc_, image_, x, y, x, y, w, h);
  }
}

}  // namespace perch
