// The agreement view: the WebBrowser control hosted in place in the wizard window, showing the
// styled HTML edition of the agreement over the area of the plain-text edit. Window-thread code;
// the thread has OLE initialised.
#pragma once

#include "wizard/wizard_ctx.h"

#include <windows.h>
#include <exdisp.h>
#include <oleidl.h>

#include <string>

namespace wizard {

// Creates the control in place over rect of parent. Both out pointers are nulled first; on
// success both are filled, one reference each, owned by the caller. Each failed step writes its
// line to the setup debug log.
[[nodiscard]] bool createAgreementBrowser(HWND parent, const RECT& rect, IWebBrowser2** browser,
                                          IOleInPlaceObject** inPlace);

// Shows the HTML file in the view, creating the view over the agreement edit the first time, and
// hides the edit. False when the view cannot be created; the caller then shows the plain text.
[[nodiscard]] bool showAgreementHtml(HWND window, Ctx& ctx, const std::wstring& htmlPath);

// The "file:///" address of a local path: backslashes become slashes, nothing is escaped.
std::wstring agreementFileUrl(const std::wstring& path);

// A new site object for host (reference count 1), as the view creates it; for tests of the site
// itself. The caller releases it.
IOleClientSite* newAgreementOleSite(HWND host);

}  // namespace wizard
