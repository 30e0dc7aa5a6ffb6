// Network work that a cancel interrupts at once. A synchronous WinHTTP call waiting for a server
// that accepted the connection and never answers cannot be interrupted (closing its handle from
// another thread does not end the call everywhere); it ends only with its time-out, up to a
// minute. So the work runs on a thread of its own and the caller stops waiting when it cancels.
#pragma once

#include "net/download.h"

#include <functional>
#include <memory>
#include <mutex>

namespace net {

// Runs work, handing it the event it must watch in place of the caller's. Without a caller's
// event the work runs on the calling thread. Returns true when the work ended; false when the
// caller's event was set and the work did not end within a short grace period: the work then
// goes on alone until its blocked call returns, and must own everything it touches (capture
// shared state by value, never the caller's locals). What the work throws reaches the caller,
// on whichever thread the work ran, unless the caller stopped waiting first.
bool runCancellable(CancelEvent callerCancel, std::function<void(CancelEvent)> work);

// A progress callback that a caller who stopped waiting can disconnect: after close() the
// callback is never entered again and every later call answers false (stop).
class ProgressRelay {
 public:
  explicit ProgressRelay(ByteProgress progress) : progress_(std::move(progress)) {}
  bool call(uint64_t done, uint64_t total);
  void close();
  bool empty() const { return !progress_; }

 private:
  std::mutex lock_;
  bool open_ = true;
  ByteProgress progress_;
};

// A ByteProgress that calls through the relay (empty when the relay's callback is).
ByteProgress relayed(const std::shared_ptr<ProgressRelay>& relay);

}  // namespace net
