// Move-only owners for Windows handles. Each traits type knows its invalid value and how to
// release a handle, so no code path ever closes a handle by hand.
#pragma once

#include <windows.h>

#include <utility>

namespace util {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type h) noexcept : h_(h) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  [[nodiscard]] Type get() const noexcept { return h_; }
  [[nodiscard]] bool valid() const noexcept { return h_ != Traits::invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // The handle's storage, for APIs that return a handle through an out parameter.
  Type* put() noexcept {
    reset();
    return &h_;
  }

  [[nodiscard]] Type release() noexcept { return std::exchange(h_, Traits::invalid()); }

  void reset(Type h = Traits::invalid()) noexcept {
    // The last error belongs to whatever failed before the release; closing must not change it.
    if (valid()) {
      const DWORD err = GetLastError();
      Traits::close(h_);
      SetLastError(err);
    }
    h_ = h;
  }

 private:
  Type h_ = Traits::invalid();
};

struct KernelHandleTraits {  // events, processes, threads, mappings: null when invalid
  using Type = HANDLE;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { CloseHandle(h); }
};

struct FileHandleTraits {  // CreateFileW and friends: INVALID_HANDLE_VALUE when invalid
  using Type = HANDLE;
  static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(Type h) noexcept { CloseHandle(h); }
};

struct FindHandleTraits {
  using Type = HANDLE;
  static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(Type h) noexcept { FindClose(h); }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { RegCloseKey(h); }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { FreeLibrary(h); }
};

struct GdiObjectTraits {  // fonts, brushes, bitmaps
  using Type = HGDIOBJ;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { DeleteObject(h); }
};

struct LocalMemTraits {  // buffers the system allocated with LocalAlloc
  using Type = HLOCAL;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { LocalFree(h); }
};

using Handle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using Module = UniqueHandle<ModuleTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits>;
using LocalMem = UniqueHandle<LocalMemTraits>;

}  // namespace util
