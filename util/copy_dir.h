// Puts the content of an unpacked package in place: every file below a source folder goes to
// the same relative place below a destination folder, each through a temporary copy beside its
// target and one move over it, so a program file is either the old or the new one, never half
// written. Database files (isDatabaseFile) in the source are skipped: user data always wins.
#pragma once

#include <functional>
#include <string>

#include "util/byte_progress.h"
#include "util/failure.h"

namespace util {

// How one file and one folder are put in place; each fails with the thread's last error set. By
// default copyFileOver and createDirectories.
struct CopyHooks {
  std::function<bool(const std::wstring& source, const std::wstring& target)> placeFile;
  std::function<bool(const std::wstring& folder)> makeFolder;
};

// progress receives (files handled, files in the tree) after each file, skipped ones included;
// false stops the copy (result false, failure untouched). failure, when given, receives a disk
// failure: "源目录不存在：", "无法创建目录：", "复制失败：" or "替换失败：" texts.
[[nodiscard]] bool copyDirContents(const std::wstring& sourceDir, const std::wstring& destDir,
                                   const ByteProgress& progress, Failure* failure,
                                   const CopyHooks* hooks = nullptr);

}  // namespace util
