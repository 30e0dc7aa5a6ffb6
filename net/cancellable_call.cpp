#include "net/cancellable_call.h"

#include "util/guard.h"
#include "util/handles.h"

#include <windows.h>

#include <exception>
#include <thread>

namespace net {
namespace {

// Long enough for work that is moving (between two reads of the body) to notice the cancel and
// clean up after itself; short enough that the user does not wait.
constexpr DWORD kGracePeriodMs = 500;

struct CallState {
  util::Handle cancel;  // the work's own event
  util::Handle done;
  std::function<void(CancelEvent)> work;
  std::exception_ptr failure;  // what the work threw, for the caller
};

}  // namespace

bool runCancellable(CancelEvent callerCancel, std::function<void(CancelEvent)> work) {
  if (!callerCancel) {
    work(nullptr);
    return true;
  }
  auto state = std::make_shared<CallState>();
  state->cancel.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  state->done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  state->work = std::move(work);
  if (!state->cancel || !state->done) {
    state->work(callerCancel);
    return true;
  }
  try {
    std::thread([state] {
      // The exception may not end this thread; it reaches the caller instead, as it would from
      // work run on the caller's own thread.
      util::guarded([&] { state->work(state->cancel.get()); },
                    [&](const char*) { state->failure = std::current_exception(); });
      SetEvent(state->done.get());
    }).detach();
  } catch (...) {
    state->work(callerCancel);
    return true;
  }
  const HANDLE waits[] = {state->done.get(), callerCancel};
  bool ended = WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0;
  if (!ended) {
    SetEvent(state->cancel.get());
    ended = WaitForSingleObject(state->done.get(), kGracePeriodMs) == WAIT_OBJECT_0;
  }
  if (ended && state->failure) std::rethrow_exception(state->failure);
  return ended;
}

bool ProgressRelay::call(uint64_t done, uint64_t total) {
  std::lock_guard<std::mutex> guard(lock_);
  return open_ && progress_(done, total);
}

void ProgressRelay::close() {
  std::lock_guard<std::mutex> guard(lock_);
  open_ = false;
}

ByteProgress relayed(const std::shared_ptr<ProgressRelay>& relay) {
  if (relay->empty()) return {};
  return [relay](uint64_t done, uint64_t total) { return relay->call(done, total); };
}

}  // namespace net
