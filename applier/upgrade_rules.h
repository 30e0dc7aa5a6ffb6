// The upgrade's naming and destination rules: plain functions over strings, without Windows, so
// that each can be checked on its own.
#pragma once

#include <cstddef>
#include <string>

namespace applier {

// The install folder: exe up to, not including, its last '\' or '/'. False when exe is empty or
// has no separator.
[[nodiscard]] bool installFolderOf(const std::wstring& exe, std::wstring& folder);

// "（i/n）" for n of 2 or more (index 0-based, shown 1-based); empty for one item.
std::wstring packageCounterSuffix(size_t index, size_t count);

// Name of the downloaded package in the temporary folder, taken from the URL's last path piece
// (query and fragment dropped) when that is a safe file name of 6 to 128 characters with an
// extension of at most five, else "OrvaloSetup_upgrade" + that piece's extension (".zip" when it
// has none that fits); "up<index>_" in front when the run has two or more items.
std::wstring localPackageName(const std::wstring& url, size_t index, size_t count);

enum class DestinationCheck { kOk, kParentSegment, kBadName };

// Where an item goes: installDir for an empty dest, an absolute dest as it is, a relative dest
// below installDir. A relative dest is refused for a ".." segment (kParentSegment) and for any
// other segment, empty and "." aside, that is no safe path component (kBadName); resolved is
// then left as it was.
[[nodiscard]] DestinationCheck resolveDestination(const std::wstring& installDir, const std::wstring& dest,
                                                  std::wstring& resolved);

// kind with ASCII letters lower-cased; empty becomes "main".
std::wstring normalizedKind(const std::wstring& kind);

// Marker file name of a component: "_" + kind + ".done".
std::wstring componentMarkerName(const std::wstring& kind);

// Whether kind may name a marker file: "main" (also empty) always; any other kind must, after
// normalizedKind, be a safe path component and not the name of another marker ("update",
// "component", "agreement").
bool isAcceptableKind(const std::wstring& kind);

// A process id read the way wcstol reads it: leading white space skipped, digits up to the
// first other character; 0 when there are none (or the value does not fit).
unsigned long parseProcessId(const std::wstring& text);

// Whether a process's image path is the program exe: compared as paths, so letter case, '/'
// against '\' and trailing separators do not count.
bool isSameProgramPath(const std::wstring& image, const std::wstring& exe);

// Whether the clean-up may delete the folder clean: longer than 3 characters (never a drive
// root) and, ignoring letter case, neither the install folder nor the item's destination.
bool mayDeleteCleanFolder(const std::wstring& clean, const std::wstring& installDir,
                          const std::wstring& dest);

// dir + "\" + name, without a second separator when dir ends in one.
std::wstring appendToFolder(const std::wstring& dir, const std::wstring& name);

}  // namespace applier
