// The agreement retrieval: the server's current agreement, fetched on a thread of its own while
// the wizard shows the built-in one, and handed to the window in one WM_WIZ_AGREEMENT message.
// Every failure is silent: nothing is posted and the built-in text stays.
#pragma once

#include "net/download.h"
#include "packages/manifest.h"
#include "wizard/wizard_ctx.h"

#include <windows.h>

#include <cstddef>
#include <string>

namespace wizard {

// Largest agreement file (text or HTML) that is used, in bytes; larger ones count as empty.
constexpr size_t kMaxAgreementBytes = 0x3FFFFF;

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

// The agreement the setup carries, with its version; empty text when the resource is missing.
AgreementText builtInAgreement();

// Body of the agreement thread: reads baseUrl and agreementCancelEvent of ctx, writes nothing in
// it, and posts at most one WM_WIZ_AGREEMENT with an AgreementPayload to window.
void retrieveAgreement(Ctx* ctx, HWND window);

}  // namespace wizard
