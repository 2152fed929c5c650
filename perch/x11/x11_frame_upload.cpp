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

X11FrameUpload::X11FrameUpload(Display* display, Visual* visual, int depth, Colormap colormap,
                               Window window)
    : display_(display), visual_(visual), depth_(depth), colormap_(colormap), window_(window) {
  allocated_.fill(kUnallocated);
  gc_ = XCreateGC(display_, window_, 0, nullptr);
  converted_ = !((depth == 32 || depth == 24) && visual->red_mask == 0xff0000 &&
                 visual->green_mask == 0xff00 && visual->blue_mask == 0xff);
  if (converted_) return;
  shmAvailable_ =
      XShmQueryExtension(display_) && localConnection(display_) && nativeByteOrder(display_);
}

X11FrameUpload::~X11FrameUpload() {
  release();
  XFreeGC(display_, gc_);
  for (long pixel : allocated_) {
    unsigned long allocated = static_cast<unsigned long>(pixel);
    if (pixel >= 0) XFreeColors(display_, colormap_, &allocated, 1, 0);
  }
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
  frame_ = {};
  picture_ = {};
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
  XImage* image = XShmCreateImage(display_, visual_, depth_, ZPixmap, nullptr, info, width, height);
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

FramePixels X11FrameUpload::frame(int width, int height) {
  if (width <= 0 || height <= 0) return {};
  if (frame_.width != width || frame_.height != height) release();
  if (frame_.data == nullptr && converted_) {
    try {
      picture_.assign(static_cast<std::size_t>(width) * height * 4, 0);
    } catch (const std::bad_alloc&) {
      return {};  // out of memory: the window keeps its last picture
    }
    frame_ = {picture_.data(), width * 4, width, height};
  } else if (frame_.data == nullptr) {
    if (!(shmAvailable_ && attachShared(width, height))) {
      const int stride = width * 4;
      auto* data = static_cast<char*>(std::malloc(static_cast<size_t>(stride) * height));
      if (data == nullptr) return {};
      image_ = XCreateImage(display_, visual_, depth_, ZPixmap, 0, data, width, height, 32, stride);
      if (image_ == nullptr) {
        std::free(data);
        return {};
      }
      // The picture's words as this machine holds them; Xlib converts for the server.
      image_->byte_order = nativeImageByteOrder();
    }
    frame_ = {reinterpret_cast<std::uint8_t*>(image_->data), image_->bytes_per_line, width, height};
  }
  // The server reads a shared frame after the request; it must be done before the next one.
  waitForServer();
  return frame_;
}

void X11FrameUpload::put(const PixelRect& area, PanelDrawing& drawing) {
  if (frame_.data == nullptr || area.width <= 0 || area.height <= 0) return;
  if (converted_) {
    putConverted(area, drawing);
    return;
  }
  const int x = area.x, y = area.y;
  const unsigned w = static_cast<unsigned>(area.width), h = static_cast<unsigned>(area.height);
  if (shm_) {
    // With a completion event: the main loop reads it as it comes, so the next frame seldom has
    // to wait for the server.
    pendingPut_ = NextRequest(display_);
    XShmPutImage(display_, window_, gc_, image_, x, y, x, y, w, h, True);
  } else {
    XPutImage(display_, window_, gc_, image_, x, y, x, y, w, h);
  }
}

void X11FrameUpload::putConverted(const PixelRect& area, PanelDrawing& drawing) {
  // Xlib fills in the server's bits a pixel and row padding for this depth.
  XImage* image =
      XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                   static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), 32, 0);
  if (image == nullptr) return;
  try {
    outgoing_.resize(static_cast<std::size_t>(image->bytes_per_line / 4) * area.height);
  } catch (const std::bad_alloc&) {
    XDestroyImage(image);
    return;
  }
  image->data = reinterpret_cast<char*>(outgoing_.data());
  const PixelFormat format{image->bits_per_pixel, visual_->red_mask, visual_->green_mask,
                           visual_->blue_mask};
  if (visual_->c_class == TrueColor &&
      drawing.convert(frame_, area, format, reinterpret_cast<std::uint8_t*>(image->data),
                      image->bytes_per_line)) {
    // The words as this machine holds them; Xlib swaps them for a server of the other order.
    image->byte_order = nativeImageByteOrder();
  } else {
    // Channels in no packed order, or a colormap: pixel by pixel, in the server's order.
    for (int row = 0; row < area.height; ++row) {
      const auto* from = reinterpret_cast<const std::uint32_t*>(
          frame_.data + static_cast<std::size_t>(area.y + row) * frame_.stride);
      for (int column = 0; column < area.width; ++column)
        XPutPixel(image, column, row, pixelOf(from[area.x + column]));
    }
  }
  XPutImage(display_, window_, gc_, image, 0, 0, area.x, area.y, static_cast<unsigned>(area.width),
            static_cast<unsigned>(area.height));
  image->data = nullptr;  // not Xlib's to free
  XDestroyImage(image);
}

unsigned long X11FrameUpload::pixelOf(std::uint32_t argb) {
  // A window of this kind has no alpha: its picture is flattened, opaque or cleared, so the
  // channels are the colour itself.
  const unsigned red = (argb >> 16) & 0xff, green = (argb >> 8) & 0xff, blue = argb & 0xff;
  if (visual_->c_class == TrueColor || visual_->c_class == DirectColor) {
    auto channel = [](unsigned value, unsigned long mask) {
      if (mask == 0) return 0ul;
      const int shift = std::countr_zero(mask);
      return ((value * (mask >> shift) + 127) / 255) << shift;
    };
    return channel(red, visual_->red_mask) | channel(green, visual_->green_mask) |
           channel(blue, visual_->blue_mask);
  }
  // A colormap: the nearest of 256 colours (3 bits of red and green, 2 of blue), each allocated
  // once, at the first pixel that needs it.
  const unsigned index = (red & 0xe0) | ((green & 0xe0) >> 3) | (blue >> 6);
  if (allocated_[index] == kUnallocated) {
    auto level = [](unsigned value, unsigned bits) {
      return static_cast<unsigned short>((value >> (8 - bits)) * 65535 / ((1u << bits) - 1));
    };
    XColor colour{};
    colour.red = level(red, 3);
    colour.green = level(green, 3);
    colour.blue = level(blue, 2);
    colour.flags = DoRed | DoGreen | DoBlue;
    allocated_[index] =
        XAllocColor(display_, colormap_, &colour) ? static_cast<long>(colour.pixel) : kUnavailable;
  }
  if (allocated_[index] == kUnavailable) return BlackPixel(display_, DefaultScreen(display_));
  return static_cast<unsigned long>(allocated_[index]);
}

}  // namespace perch
