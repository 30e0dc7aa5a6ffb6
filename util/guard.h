// Keeps exceptions inside a thread's entry or a window procedure: one that left either would end
// the process. The libraries we use throw (std::bad_alloc, std::system_error, the JSON parser's
// errors); the code around them reports failures as values.
#pragma once

#include <exception>

namespace util {

// Returns body(); when body throws, returns onFailure(what) instead, called inside the handler
// (so std::current_exception() works there) with the exception's text, or "unknown exception"
// for one that is no std::exception.
template <typename Body, typename OnFailure>
auto guarded(Body&& body, OnFailure&& onFailure) -> decltype(body()) {
  try {
    return body();
  } catch (const std::exception& e) {
    return onFailure(e.what());
  } catch (...) {
    return onFailure("unknown exception");
  }
}

}  // namespace util
