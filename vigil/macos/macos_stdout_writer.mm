#include "macos_stdout_writer.h"

#import <CoreFoundation/CoreFoundation.h>

#include <unistd.h>

#include <cstdlib>

namespace vigil {
namespace {

void onDescriptor(CFFileDescriptorRef, CFOptionFlags, void* writer) {
  static_cast<MacOSStdoutWriter*>(writer)->writable();
}

}  // namespace

CFObject adoptCFObject(const void* object) {
  if (object == nullptr) return nullptr;
  return CFObject(const_cast<void*>(object), [](void* held) { CFRelease(held); });
}

MacOSStdoutWriter::MacOSStdoutWriter() {
  CFFileDescriptorContext context{0, this, nullptr, nullptr, nullptr};
  CFFileDescriptorRef descriptor =
      CFFileDescriptorCreate(kCFAllocatorDefault, STDOUT_FILENO, false, &onDescriptor, &context);
  descriptor_ = adoptCFObject(descriptor);
  if (descriptor == nullptr) return;
  source_ = adoptCFObject(CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, descriptor, 0));
  if (source_) {
    CFRunLoopAddSource(CFRunLoopGetCurrent(), static_cast<CFRunLoopSourceRef>(source_.get()),
                       kCFRunLoopCommonModes);
  }
}

void MacOSStdoutWriter::writeLine(std::string_view line) {
  outbox_.push(line);
  if (!waiting_) flush();
}

void MacOSStdoutWriter::writable() {
  waiting_ = false;
  flush();
}

void MacOSStdoutWriter::flush() {
  const FlushOutcome outcome =
      flushOutbox(outbox_, [this](std::string_view bytes) { return stdout_.write(bytes); });
  // The host closed our standard output: nobody reads the lines any more, so the run ends with
  // status 0, as every run of vigil does.
  if (outcome == FlushOutcome::closed) std::exit(0);
  if (outcome == FlushOutcome::blocked && !waiting_ && descriptor_) {
    // One call back per enabling: enabled again for as long as the pipe stays full.
    waiting_ = true;
    CFFileDescriptorEnableCallBacks(static_cast<CFFileDescriptorRef>(descriptor_.get()),
                                    kCFFileDescriptorWriteCallBack);
  }
}

}  // namespace vigil
