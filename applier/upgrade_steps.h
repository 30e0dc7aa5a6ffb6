// The steps of the upgrade that deal with other processes and with files in use: finding the
// client, the wait for it to exit, and the replacement of one file.
#pragma once

#include "util/client_contract.h"
#include "util/handles.h"

#include <windows.h>

#include <functional>
#include <string>

namespace applier {

// How long the job waits for the client, and after ending it, for it to be gone.
constexpr DWORD kClientExitWaitMs = client::kExitWaitMs;
constexpr DWORD kClientKillWaitMs = 10000;

// Waits up to exitWaitMs for the process to end; when it does not, calls onForce, ends it and
// waits up to killWaitMs more. True when the process is gone.
[[nodiscard]] bool waitForProcessExit(HANDLE process, DWORD exitWaitMs, DWORD killWaitMs,
                                      const std::function<void()>& onForce);

// The client named by a decimal process id, opened to be waited for and ended, but only while
// the program running under that id is exe: a client that exited long ago may have passed its id
// to an unrelated program. Empty (the client counts as gone) for an id of 0, a process that cannot
// be opened (gone, or not ours), has ended or whose image cannot be read, and a process running
// another program.
[[nodiscard]] util::Handle openClientProcess(const std::wstring& pidText, const std::wstring& exe);

// Puts source in place of target: copied beside it as target + ".upg_tmp", then moved over it in
// one step, so that target is always either the old or the complete new file. The temporary file
// never stays behind. On failure errorText says "覆盖升级文件失败（" + description + "）".
[[nodiscard]] bool replaceFile(const std::wstring& source, const std::wstring& target,
                               std::wstring* errorText);

}  // namespace applier
