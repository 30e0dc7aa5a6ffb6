#include "util/copy_dir.h"

#include <windows.h>

#include "util/database_files.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/texts.h"

namespace util {
namespace {

struct CopyState {
  const ByteProgress& progress;
  Failure* failure;
  const CopyHooks* hooks;
  uint64_t done = 0;
  uint64_t total = 0;
};

void setFailure(Failure* failure, const std::wstring& text) {
  if (failure) *failure = util::failure(FailureKind::kDisk, text);
}

// The entry's path below the folder being walked; starts with '\' when the folder ended in one,
// which joinPath handles the same way.
std::wstring relativePath(const std::wstring& entry, const std::wstring& folder) {
  size_t skip = folder.size();
  if (folder.empty() || folder.back() != L'\\') ++skip;
  return skip < entry.size() ? entry.substr(skip) : std::wstring();
}

bool countOneFile(CopyState& state) {
  ++state.done;
  return state.progress ? state.progress(state.done, state.total) : true;
}

bool replaceFile(CopyState& state, const std::wstring& source, const std::wstring& target,
                 const std::wstring& rel) {
  CopyOverStep failed = CopyOverStep::kNone;
  if (state.hooks && state.hooks->placeFile) {
    if (!state.hooks->placeFile(source, target)) {
      setFailure(state.failure, kReplaceFailed + rel + kReasonOpen + lastErrorText() + kReasonClose);
      return false;
    }
    return countOneFile(state);
  }
  if (!copyFileOver(source, target, &failed)) {
    const wchar_t* what = failed == CopyOverStep::kCopy ? kCopyFailed : kReplaceFailed;
    setFailure(state.failure, what + rel + L"（" + lastErrorText() + L"）");
    return false;
  }
  return countOneFile(state);
}

bool makeFolder(const CopyState& state, const std::wstring& folder) {
  return state.hooks && state.hooks->makeFolder ? state.hooks->makeFolder(folder) : createDirectories(folder);
}

bool copyLevel(CopyState& state, const std::wstring& sourceDir, const std::wstring& destDir) {
  return forEachEntry(sourceDir, [&](const std::wstring& entry, const WIN32_FIND_DATAW& data) {
    const std::wstring rel = relativePath(entry, sourceDir);
    const std::wstring target = joinPath(destDir, rel);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!makeFolder(state, target)) {
        setFailure(state.failure, kCannotCreateFolder + target);
        return false;
      }
      // Links to folders are created as plain folders but not followed: what they point to
      // is not part of the package (countFiles does not count through them either).
      if (!isWalkableFolder(data)) return true;
      return copyLevel(state, entry, target);
    }
    if (isDatabaseFile(rel)) return countOneFile(state);
    return replaceFile(state, entry, target, rel);
  });
}

}  // namespace

bool copyDirContents(const std::wstring& sourceDir, const std::wstring& destDir,
                     const ByteProgress& progress, Failure* failure, const CopyHooks* hooks) {
  if (!isExistingFolder(sourceDir)) {
    setFailure(failure, kSourceMissing + sourceDir);
    return false;
  }
  CopyState state{progress, failure, hooks};
  if (!makeFolder(state, destDir)) {
    setFailure(failure, kCannotCreateFolder + destDir);
    return false;
  }
  state.total = countFiles(sourceDir);
  return copyLevel(state, sourceDir, destDir);
}

}  // namespace util
