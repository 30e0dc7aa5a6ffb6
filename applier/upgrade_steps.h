// The two steps of the upgrade job that deal with other processes and with files in use: the
// wait for the client to exit, and the replacement of one file.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace applier {

// How long the job waits for the client, and after ending it, for it to be gone.
constexpr DWORD kClientExitWaitMs = 300000;
constexpr DWORD kClientKillWaitMs = 10000;

// Waits up to exitWaitMs for the process to end; when it does not, calls onForce, ends it and
// waits up to killWaitMs more. True when the process is gone.
[[nodiscard]] bool waitForProcessExit(HANDLE process, DWORD exitWaitMs, DWORD killWaitMs,
                                      const std::function<void()>& onForce);

// The same for the process named by a decimal id. An id of 0, or a process that cannot be opened
// (gone, or not ours), counts as gone at once.
[[nodiscard]] bool waitForClientExit(const std::wstring& pidText, DWORD exitWaitMs, DWORD killWaitMs,
                                     const std::function<void()>& onForce);

// Puts source in place of target: copied beside it as target + ".upg_tmp", then moved over it in
// one step, so that target is always either the old or the complete new file. The temporary file
// never stays behind. On failure errorText says "覆盖升级文件失败（" + description + "）".
[[nodiscard]] bool replaceFile(const std::wstring& source, const std::wstring& target,
                               std::wstring* errorText);

}  // namespace applier
