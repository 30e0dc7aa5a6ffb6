// The server's agreement without any window: the text named by the manifest, bounded in size and
// checked against its digest, its HTML edition prepared for the view, and the agreement the setup
// carries. The wizard's agreement thread and the unattended install both take it from here.
#pragma once

#include "net/download.h"
#include "packages/manifest.h"

#include <cstddef>
#include <string>

namespace documents {

// Largest agreement file (text or HTML) that is used, in bytes; larger ones count as empty.
constexpr size_t kMaxAgreementBytes = 0x3FFFFF;

// The version an install records for the agreement the setup carries.
constexpr wchar_t kBuiltinAgreementVersion[] = L"builtin";

// The file the styled HTML edition is written to for the view, in the temporary folder. It is
// named for this process so that setups running side by side never show, replace or remove each
// other's page; the window removes it when it goes away.
std::wstring agreementHtmlFile();

// An agreement and the version an install records for it.
struct AgreementText {
  std::wstring version;
  std::wstring text;
};

// The server's current agreement, as the wizard and the unattended install accept it: named by
// the manifest, at most kMaxAgreementBytes, not empty and matching its digest when the manifest
// gives one. False when there is none; manifest is the fetched manifest either way it got one.
[[nodiscard]] bool fetchServerAgreement(const std::wstring& baseUrl, CancelEvent cancel,
                                        ServerManifest& manifest, AgreementText& agreement);

// The HTML edition beside the manifest's ".txt" agreement, written to agreementHtmlFile() styled,
// with the byte-order mark the control needs to take it as UTF-8 and the Internet-zone mark; the
// file's path, or empty when there is none, when it would come over plain http, when it does not
// match its digest, or when a signed release gives it none.
std::wstring fetchAgreementHtmlEdition(const ServerManifest& manifest, CancelEvent cancel);

// The agreement the setup carries, with its version; empty text when the resource is missing.
AgreementText builtInAgreement();

}  // namespace documents
