// What the system fixes about the installed trading client: its default executable name, the
// arguments it passes for an upgrade, how long an upgrade waits for it, the database files that
// are never overwritten, and the files and folders left in the install folder for it.
#pragma once

#include "util/product.h"

#include <cstdint>

namespace client {

// The manifest's "exe" of the main package when it names none.
inline constexpr wchar_t kDefaultExeName[] = L"Orvalo.exe";
// Name of the setup copy in the install folder: the client starts upgrades through it and
// Windows starts the uninstaller through it.
inline constexpr wchar_t kSetupExeName[] = L"OrvaloSetup.exe";

// After starting the applier the client ends by itself; the upgrade waits this long for the
// process named by --pid before ending it.
inline constexpr uint32_t kExitWaitMs = 300000;

// A plan file the client writes: UTF-8 JSON of 1 to this many bytes.
inline constexpr uint64_t kMaxPlanBytes = 262144;
// Length of the package digest the client passes: lower-case hex, compared exactly.
inline constexpr unsigned kSha256HexLength = 64;
// The one --launch value that keeps the client from being started again.
inline constexpr wchar_t kLaunchNever[] = L"0";

// Databases of the client and the files their engines keep beside them: never overwritten by
// an upgrade; "*.db" files are snapshotted with their companions.
inline constexpr wchar_t kDbSuffix[] = L".db";
inline constexpr const wchar_t* kDbCompanionSuffixes[] = {L"-wal", L"-shm", L"-journal"};
inline constexpr wchar_t kDuckDbSuffix[] = L".duckdb";
inline constexpr const wchar_t* kDuckDbCompanionSuffixes[] = {L".wal"};
inline constexpr wchar_t kBackupDirName[] = L"backup";

// Files and folders the system leaves in the install folder.
inline constexpr wchar_t kChannelFileName[] = L"channel.ini";
inline constexpr wchar_t kMarkerDirName[] = L"update";
inline constexpr wchar_t kLegalDirName[] = L"legal";
inline constexpr wchar_t kAgreementCopyName[] = L"agreement_install.txt";

// The client's user data: folders of this name under the local and the roaming
// application-data folders, removed by the uninstaller only on request.
inline constexpr wchar_t kUserDataDirName[] = ORVALO_PRODUCT_LATIN_NAME;

}  // namespace client
