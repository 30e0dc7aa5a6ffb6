// The checks the vendor's release tools apply to the files of a release, with the installer's own
// rules and bounds, so that a release they pass is one the installer takes.
#pragma once

#include "packages/manifest.h"

#include <string>

namespace tool {

// Each returns the reason in a short text, or empty when the check passes.

// The agreement text: not empty, valid UTF-8, within the agreement bound.
std::wstring agreementProblem(const std::string& bytes);

// The hints document's address: https on the vendor's own site, the only place a build takes
// hints from.
std::wstring hintsAddressProblem(const std::wstring& url, const std::wstring& vendorDomain);

// The hints document: within its bound and a document the wizard can use.
std::wstring hintsProblem(const std::string& bytes);

// A package file on disk: when its name is a zip's, the archive must open, hold only safe names
// and inflate whole.
std::wstring packageProblem(const std::wstring& path, const std::wstring& filename);

// The names the installer turns into files and folders, and the two packages it needs.
std::wstring manifestNamesProblem(const ServerManifest& manifest);

// The domain the hints must live on: --vendor-domain's value, or the one this tool was built for.
std::wstring vendorDomainOption(const std::wstring& value);

}  // namespace tool
