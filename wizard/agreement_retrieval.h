// The wizard's agreement thread: the server's current agreement (documents/agreement.h), fetched
// while the wizard shows the built-in one, and handed to the window in one WM_WIZ_AGREEMENT
// message. Every failure is silent: nothing is posted and the built-in text stays.
#pragma once

#include "wizard/wizard_ctx.h"

#include <windows.h>

namespace wizard {

// Body of the agreement thread: reads baseUrl and agreementCancelEvent of ctx, writes nothing in
// it, and posts at most one WM_WIZ_AGREEMENT with an AgreementPayload to window.
void retrieveAgreement(Ctx* ctx, HWND window);

}  // namespace wizard
