#include "glib_stdout_writer.h"

#include <unistd.h>

#include <utility>

#include "fd_watch.h"

namespace vigil {

GlibStdoutWriter::GlibStdoutWriter(std::function<void()> onClosed)
    : onClosed_(std::move(onClosed)) {
  // A host closing its end is seen here even while there is nothing to write.
  hangUpWatch_ = watchFd(STDOUT_FILENO, static_cast<GIOCondition>(G_IO_ERR | G_IO_HUP),
                         &GlibStdoutWriter::onHangUp, this);
}

GlibStdoutWriter::~GlibStdoutWriter() {
  finish();
  if (writableWatch_ != 0) g_source_remove(writableWatch_);
  if (hangUpWatch_ != 0) g_source_remove(hangUpWatch_);
}

void GlibStdoutWriter::writeLine(std::string_view line) {
  if (closed_) return;
  if (outbox_.empty()) {
    // Nothing waits before it: straight to the pipe, and only what the pipe does not take queues.
    direct_.assign(line);
    direct_.push_back('\n');
    const SinkWrite written = stdout_.write(direct_);
    if (written.closed) return hostGone();
    if (written.taken == direct_.size()) return;
    outbox_.push(line);
    outbox_.consume(written.taken);
  } else {
    outbox_.push(line);
  }
  // Behind lines already waiting the pipe is full: the watch writes when it has room.
  if (writableWatch_ == 0) flush();
}

void GlibStdoutWriter::finish() {
  if (!closed_) stdout_.drain(outbox_, finishTimeout);
}

void GlibStdoutWriter::flush() {
  const FlushOutcome outcome =
      flushOutbox(outbox_, [this](std::string_view bytes) { return stdout_.write(bytes); });
  if (outcome == FlushOutcome::closed) {
    hostGone();
  } else if (outcome == FlushOutcome::blocked && writableWatch_ == 0) {
    writableWatch_ = watchFd(STDOUT_FILENO, G_IO_OUT, &GlibStdoutWriter::onWritable, this);
  }
}

gboolean GlibStdoutWriter::onWritable(gint, GIOCondition, gpointer self) {
  auto* writer = static_cast<GlibStdoutWriter*>(self);
  writer->writableWatch_ = 0;  // this watch ends here; flush() adds another while still full
  writer->flush();
  return G_SOURCE_REMOVE;
}

gboolean GlibStdoutWriter::onHangUp(gint, GIOCondition, gpointer self) {
  auto* writer = static_cast<GlibStdoutWriter*>(self);
  writer->hangUpWatch_ = 0;
  writer->hostGone();
  return G_SOURCE_REMOVE;
}

void GlibStdoutWriter::hostGone() {
  if (closed_) return;
  closed_ = true;
  outbox_.clear();
  if (writableWatch_ != 0) g_source_remove(std::exchange(writableWatch_, 0));
  if (hangUpWatch_ != 0) g_source_remove(std::exchange(hangUpWatch_, 0));
  onClosed_();
}

}  // namespace vigil
