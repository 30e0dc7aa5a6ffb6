// The wizard's two pages: the controls, their fonts and layout, the page switch, the options
// page's hints and links. Window-thread code, private to the wizard.
#pragma once

#include "wizard/wizard_ctx.h"

#include <windows.h>

#include <string>

namespace wizard {

// Creates the three fonts for the window's DPI and every control, detects the GPU for the
// options page, and sets the fonts. Returns false when a control could not be created.
bool createControls(HWND window, Ctx& ctx, int dpi);

// After a change of DPI: new fonts for it, and every control where the layout puts it.
void applyDpi(HWND window, Ctx& ctx, int dpi);

// The focus to the first visible, enabled control that Tab reaches.
void focusFirstControl(HWND window);

// The already-installed variant: the found folder, other texts, the uninstall button, and the
// options page straight away.
void prepareInstalledVariant(HWND window, Ctx& ctx);

// Shows the options page, makes "开始安装" the default button and gives the focus to the first
// control.
void showOptionsPage(HWND window, Ctx& ctx);
void refreshModelRows(HWND window, Ctx& ctx);
void applyHints(HWND window, Ctx& ctx, const documents::HintsDocument& document);

// The folder edit's text exactly as typed.
std::wstring readInstallDir(HWND window);

// "浏览…": the system folder dialog; a picked folder goes into the edit and checks the subfolder
// box.
void browseForFolder(HWND window, Ctx& ctx);

// Opens the link behind a link control when its address passes the allowlist (through the
// window's collaborators); true when the id belongs to a link.
bool openLinkControl(HWND window, Ctx& ctx, int id);

// Ids of the controls drawn as links (colour and hand cursor).
bool isColouredLink(int id);

void showControl(HWND window, int id, bool show);
void enableControl(HWND window, int id, bool enable);
void setControlText(HWND window, int id, const std::wstring& text);

}  // namespace wizard
