#include "command_hand_off.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "command_reader.h"

namespace perch {

// Owned by the reader thread and the main side together: the reader may still be blocked in a
// read when the main side is gone.
struct CommandHandOff::Shared {
  std::mutex mutex;
  std::condition_variable notFull;
  std::deque<MascotCommand> commands;
  bool ended = false;   // the reader saw the end of input; nothing follows the queued commands
  bool closed = false;  // the main side stopped listening
  GMainContext* context = nullptr;

  bool ready() {
    std::lock_guard lock(mutex);
    return !closed && (!commands.empty() || ended);
  }
};

struct CommandHandOff::Source {
  GSource base;
  CommandHandOff* owner;
};

CommandHandOff::CommandHandOff(int fd, Deliver deliver, End onEnd)
    : shared_(std::make_shared<Shared>()), deliver_(std::move(deliver)), onEnd_(std::move(onEnd)) {
  shared_->context = g_main_context_ref(g_main_context_default());
  static GSourceFuncs funcs = {&CommandHandOff::prepare,
                               &CommandHandOff::check,
                               &CommandHandOff::dispatch,
                               nullptr,
                               nullptr,
                               nullptr};
  source_ = g_source_new(&funcs, sizeof(Source));
  reinterpret_cast<Source*>(source_)->owner = this;
  g_source_attach(source_, shared_->context);

  std::thread([shared = shared_, fd] {
    auto push = [&](std::optional<MascotCommand> command) {
      {
        std::unique_lock lock(shared->mutex);
        shared->notFull.wait(lock,
                             [&] { return shared->closed || shared->commands.size() < capacity; });
        if (shared->closed) return;
        if (command) {
          shared->commands.push_back(std::move(*command));
        } else {
          shared->ended = true;
        }
      }
      g_main_context_wakeup(shared->context);
    };
    readCommands(
        fd, [&](MascotCommand c) { push(std::move(c)); }, [&] { push(std::nullopt); });
  }).detach();
}

CommandHandOff::~CommandHandOff() {
  close();
  g_source_destroy(source_);
  g_source_unref(source_);
}

void CommandHandOff::close() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
    shared_->commands.clear();
  }
  shared_->notFull.notify_all();
}

gboolean CommandHandOff::prepare(GSource* source, gint* timeout) {
  *timeout = -1;
  return reinterpret_cast<Source*>(source)->owner->shared_->ready();
}

gboolean CommandHandOff::check(GSource* source) {
  return reinterpret_cast<Source*>(source)->owner->shared_->ready();
}

gboolean CommandHandOff::dispatch(GSource* source, GSourceFunc, gpointer) {
  CommandHandOff* self = reinterpret_cast<Source*>(source)->owner;
  Shared& shared = *self->shared_;
  for (std::size_t i = 0; i < batchPerDispatch; ++i) {
    std::optional<MascotCommand> command;
    bool ended = false;
    {
      std::lock_guard lock(shared.mutex);
      if (shared.closed) break;
      if (!shared.commands.empty()) {
        command = std::move(shared.commands.front());
        shared.commands.pop_front();
      } else {
        ended = shared.ended;
        shared.ended = false;
      }
    }
    shared.notFull.notify_one();
    if (command) {
      self->deliver_(*command);  // may close() the hand-off ("quit")
    } else {
      if (ended) self->onEnd_();
      break;
    }
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace perch
