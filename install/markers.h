// Marker files in the install folder's "update" folder, which tell the client which versions are
// installed, and the start of the client. Shared by the install and the upgrade job.
#pragma once

#include <string>

// installDir (trailing separators dropped) + "\update", created with all missing levels.
std::wstring markerDirectory(const std::wstring& installDir);

// Writes the version as UTF-8 to the named marker; an empty version writes nothing.
void writeMarker(const std::wstring& installDir, const std::wstring& name, const std::wstring& version);

// The characters of the version that make a version number (".", digits, "V", "v").
std::wstring filterUpdateVersion(const std::wstring& version);

// The content of "_update.done" for a version: the filtered version in the ANSI code page (empty
// when nothing is left).
std::string updateMarkerBytes(const std::wstring& version);

// Writes the filtered main version in the ANSI code page to "_update.done". True when written, or
// when nothing was left to write.
bool writeUpdateMarker(const std::wstring& installDir, const std::wstring& version);

// Starts the program with its own folder as working folder; true when it started.
bool launchProgram(const std::wstring& exe);
