// Reads the host's commands on a thread of its own and hands them to the GLib main loop in order.
// The queue between them is bounded: a host that writes faster than commands are carried out is
// slowed down by the pipe, never by dropping a command, and memory stays bounded.
#pragma once

#include <glib.h>

#include <functional>
#include <memory>

#include "mascot_protocol.h"

namespace perch {

class CommandHandOff {
 public:
  using Deliver = std::function<void(const MascotCommand&)>;
  using End = std::function<void()>;

  // Starts reading `fd`. `deliver` runs on the main loop for each command; `onEnd` after the last.
  CommandHandOff(int fd, Deliver deliver, End onEnd);
  ~CommandHandOff();
  CommandHandOff(const CommandHandOff&) = delete;
  CommandHandOff& operator=(const CommandHandOff&) = delete;

  // Stops delivering: commands still queued come to nothing.
  void close();

  static constexpr std::size_t capacity = 4096;         // commands waiting for the main loop
  static constexpr std::size_t batchPerDispatch = 512;  // then the loop serves X events again

 private:
  struct Shared;
  struct Source;
  static gboolean prepare(GSource* source, gint* timeout);
  static gboolean check(GSource* source);
  static gboolean dispatch(GSource* source, GSourceFunc, gpointer);

  std::shared_ptr<Shared> shared_;
  GSource* source_ = nullptr;
  Deliver deliver_;
  End onEnd_;
};

}  // namespace perch
