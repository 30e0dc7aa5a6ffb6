// A failure as the jobs and the operations they call hand it on: its kind, which decides what
// follows (an unattended install's exit code, whether a stop was the user's cancel), and its
// text, which the user reads and which decides nothing.
#pragma once

#include <string>
#include <utility>

namespace util {

enum class FailureKind {
  kNone,          // no failure
  kCancelled,     // the user (or the session's end) stopped the work
  kNetwork,       // the server or the connection: status, content, names, documents
  kVerification,  // a digest or a signature that does not match
  kDisk,          // folders, files, extraction, copies, the journal
  kRefused,       // refused before anything changed: arguments, folders, locks
  kInternal,      // the program itself: a thread, an event, an exception
};

// The text of a cancel, wherever it is noticed.
inline constexpr wchar_t kCancelledText[] = L"已取消";

struct Failure {
  FailureKind kind = FailureKind::kNone;
  std::wstring text;

  // True when this is a failure.
  explicit operator bool() const { return kind != FailureKind::kNone; }
  bool cancelled() const { return kind == FailureKind::kCancelled; }
};

inline Failure failure(FailureKind kind, std::wstring text) { return {kind, std::move(text)}; }
inline Failure cancelledFailure() { return {FailureKind::kCancelled, kCancelledText}; }

// The failure as a step that adds what it was doing reports it: a cancel stays the bare cancel.
inline Failure prefixed(const std::wstring& prefix, Failure inner) {
  if (!inner.cancelled()) inner.text.insert(0, prefix);
  return inner;
}

// The failure of work the user cancelled meanwhile is that cancel, whatever else went wrong.
inline Failure cancelledOr(bool cancelled, Failure inner) {
  return cancelled ? cancelledFailure() : std::move(inner);
}

}  // namespace util
