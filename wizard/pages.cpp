#include "wizard/pages.h"

#include "documents/link_allowlist.h"
#include "documents/vendor_domain.h"
#include "install/gpu.h"
#include "install/install_dir.h"
#include "util/paths.h"
#include "util/product.h"
#include "wizard/layout.h"
#include "wizard/texts.h"
#include "wizard/wizard_ids.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <memory>

namespace wizard {
namespace {

using Microsoft::WRL::ComPtr;

enum class FontKind { None, Title, Body, Link };

struct ControlDef {
  int id;
  const wchar_t* cls;
  const wchar_t* text;  // null: filled in at creation
  DWORD style;          // besides WS_CHILD
  DWORD exStyle;
  FontKind font;
};

constexpr DWORD kShown = WS_VISIBLE;
constexpr DWORD kTab = WS_TABSTOP;

// Every control, in creation order, which is also the order of Tab: the reading order of each
// page. Only the controls of the agreement page start visible.
const ControlDef kControls[] = {
    {kIdTitle, L"STATIC", product::kLatinName, kShown, 0, FontKind::Title},
    {kIdAgreementTitle, L"STATIC", kAgreementTitle, kShown, 0, FontKind::Title},
    {kIdFullAgreementLink, L"STATIC", kFullAgreementLink, kShown | kTab | SS_NOTIFY | SS_RIGHT, 0,
     FontKind::Link},
    {kIdAgreementEdit, L"EDIT", kAgreementLoading,
     kShown | kTab | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0, FontKind::Body},
    {kIdAgreementCheck, L"BUTTON", kAgreementCheck, kShown | kTab | BS_AUTOCHECKBOX, 0,
     FontKind::Body},
    {kIdDecline, L"BUTTON", kDeclineButton, kShown | kTab, 0, FontKind::Body},
    {kIdAccept, L"BUTTON", kAcceptButton, kShown | WS_DISABLED | kTab | BS_DEFPUSHBUTTON, 0,
     FontKind::Body},
    {kIdSubtitle, L"STATIC", kSubtitle, 0, 0, FontKind::Body},
    {kIdFolderLabel, L"STATIC", kFolderLabel, 0, 0, FontKind::Body},
    {kIdFolderEdit, L"EDIT", nullptr, kTab | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, FontKind::Body},
    {kIdBrowse, L"BUTTON", kBrowseButton, kTab, 0, FontKind::Body},
    {kIdSubfolder, L"BUTTON", kSubfolderCheck, kTab | BS_AUTOCHECKBOX, 0,
     FontKind::Body},
    {kIdDataSourceTitle, L"STATIC", kDataSourceTitle, 0, 0, FontKind::Title},
    {kIdDataSourceIntro, L"STATIC", nullptr, 0, 0, FontKind::Body},
    {kIdDataSourceLink1, L"STATIC", nullptr, kTab | SS_NOTIFY, 0, FontKind::Link},
    {kIdDataSourceLink2, L"STATIC", nullptr, kTab | SS_NOTIFY, 0, FontKind::Link},
    {kIdModelTitle, L"STATIC", kModelTitle, 0, 0, FontKind::Title},
    {kIdGpuText, L"STATIC", nullptr, 0, 0, FontKind::Body},
    {kIdCuda, L"BUTTON", kCudaCheck,
     kTab | BS_AUTOCHECKBOX, 0, FontKind::Body},
    {kIdModelListLabel, L"STATIC", kModelListLabel, 0, 0, FontKind::Body},
    {kIdModelRow0, L"STATIC", L"", kTab | SS_NOTIFY, 0, FontKind::Link},
    {kIdModelRow1, L"STATIC", L"", kTab | SS_NOTIFY, 0, FontKind::Link},
    {kIdModelRow2, L"STATIC", L"", kTab | SS_NOTIFY, 0, FontKind::Link},
    {kIdModelFileNote, L"STATIC", nullptr, 0, 0, FontKind::Body},
    {kIdMirrorNote, L"STATIC", nullptr, 0, 0, FontKind::Body},
    {kIdModelHelpLink, L"STATIC", nullptr, kTab | SS_NOTIFY, 0, FontKind::Link},
    {kIdExtraLink, L"STATIC", L"", kTab | SS_NOTIFY, 0, FontKind::Link},
    {kIdStatus, L"STATIC", L"", 0, 0, FontKind::Body},
    {kIdPackageLabel, L"STATIC", L"", 0, 0, FontKind::Body},
    {kIdPackageBar, PROGRESS_CLASSW, nullptr, PBS_SMOOTH, 0, FontKind::None},
    {kIdOverallBar, PROGRESS_CLASSW, nullptr, PBS_SMOOTH | PBS_MARQUEE, 0, FontKind::None},
    // The bottom row from left to right; the page switch makes "开始安装" the default button.
    {kIdUninstall, L"BUTTON", kUninstallButton, kTab, 0, FontKind::Body},
    {kIdCancel, L"BUTTON", kCancelButton, kTab, 0, FontKind::Body},
    {kIdInstall, L"BUTTON", kInstallButton, kTab, 0, FontKind::Body},
};

// The options page's controls shown by the page switch (the links and the CUDA box follow their
// own rules).
const int kOptionsPageControls[] = {
    kIdSubtitle,     kIdFolderLabel,    kIdFolderEdit,      kIdBrowse,         kIdSubfolder,
    kIdDataSourceTitle, kIdDataSourceIntro, kIdModelTitle,  kIdGpuText,        kIdCuda,
    kIdModelListLabel,  kIdModelFileNote,   kIdMirrorNote,  kIdModelHelpLink,  kIdCancel,
    kIdInstall,
};

const int kLinkIds[] = {kIdModelHelpLink, kIdDataSourceLink1, kIdDataSourceLink2, kIdExtraLink,
                        kIdModelRow0,     kIdModelRow1,       kIdModelRow2};

HWND control(HWND window, int id) { return GetDlgItem(window, id); }

// The message font of the given DPI, not the system's: the window may sit on a monitor of
// another DPI than the primary one.
void createFonts(Ctx& ctx, int dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi));

  LOGFONTW title = metrics.lfMessageFont;
  title.lfWeight = 600;
  ctx.titleFont.reset(CreateFontIndirectW(&title));
  ctx.bodyFont.reset(CreateFontIndirectW(&metrics.lfMessageFont));

  LOGFONTW link = metrics.lfMessageFont;
  link.lfUnderline = TRUE;
  ctx.linkFont.reset(CreateFontIndirectW(&link));
}

const util::GdiObject* fontOf(const Ctx& ctx, FontKind kind) {
  switch (kind) {
    case FontKind::Title: return &ctx.titleFont;
    case FontKind::Body: return &ctx.bodyFont;
    case FontKind::Link: return &ctx.linkFont;
    default: return nullptr;
  }
}

void setFonts(HWND window, const Ctx& ctx) {
  for (const ControlDef& def : kControls) {
    if (const util::GdiObject* font = fontOf(ctx, def.font)) {
      SendMessageW(control(window, def.id), WM_SETFONT, reinterpret_cast<WPARAM>(font->get()), TRUE);
    }
  }
}

// ---- links ---------------------------------------------------------------------------------

bool isLink(int id) { return id == kIdFullAgreementLink || isColouredLink(id); }

// Where the text of a link is, for its focus rectangle: the text's own width, not the control's.
RECT linkTextRect(HWND link, HDC dc) {
  RECT client;
  GetClientRect(link, &client);
  wchar_t text[512] = {};
  GetWindowTextW(link, text, 512);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(link, WM_GETFONT, 0, 0)));
  RECT r = client;
  DrawTextW(dc, text, -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  const int width = std::min(r.right - r.left, static_cast<LONG>(client.right));
  const bool right = (GetWindowLongW(link, GWL_STYLE) & SS_TYPEMASK) == SS_RIGHT;
  r.left = right ? client.right - width : 0;
  r.right = r.left + width;
  r.bottom = std::min(r.bottom, client.bottom);
  return r;
}

// The static paints itself into the paint DC, and the focus rectangle goes on top within the
// same clipping, so that a partial repaint never leaves half a rectangle behind.
void paintLink(HWND link) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(link, &ps);
  if (!dc) return;
  DefSubclassProc(link, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  const bool cuesHidden = (SendMessageW(link, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0;
  if (GetFocus() == link && !cuesHidden) {
    const RECT r = linkTextRect(link, dc);
    DrawFocusRect(dc, &r);
  }
  EndPaint(link, &ps);
}

// A link is a static control: it takes the focus from Tab, opens with Enter or Space as a click
// does, and shows the focus.
LRESULT CALLBACK linkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_GETDLGCODE: {
      // Enter must reach the link instead of the default button. Only Enter: Tab and Esc keep
      // their meaning for the dialog manager.
      const auto* msg = reinterpret_cast<const MSG*>(lParam);
      if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        return DefSubclassProc(link, message, wParam, lParam) | DLGC_WANTMESSAGE;
      }
      break;
    }
    case WM_KEYDOWN:
      if (wParam == VK_RETURN || wParam == VK_SPACE) {
        SendMessageW(GetParent(link), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(link), STN_CLICKED),
                     reinterpret_cast<LPARAM>(link));
        return 0;
      }
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE: InvalidateRect(link, nullptr, TRUE); break;
    case WM_PAINT: paintLink(link); return 0;
    case WM_NCDESTROY: RemoveWindowSubclass(link, linkProc, 0); break;
    default: break;
  }
  return DefSubclassProc(link, message, wParam, lParam);
}

// Texts that depend on the machine or on the built-in hints.
std::wstring initialText(const ControlDef& def, const Ctx& ctx, const documents::HintsDocument& builtin,
                         const std::wstring& gpuLine) {
  switch (def.id) {
    case kIdFolderEdit: return install::defaultInstallDir(util::localAppDataDirectory());
    case kIdDataSourceIntro: return builtin.dataSourceIntro;
    case kIdDataSourceLink1: return builtin.dataSources.size() > 0 ? builtin.dataSources[0].label : L"";
    case kIdDataSourceLink2: return builtin.dataSources.size() > 1 ? builtin.dataSources[1].label : L"";
    case kIdGpuText: return gpuLine;
    case kIdModelFileNote: return builtin.modelFileNote;
    case kIdMirrorNote: return builtin.mirrorNote;
    case kIdModelHelpLink: return builtin.helpTitle;
    default: (void)ctx; return def.text ? def.text : L"";
  }
}

// The vendor's web page of the full agreement.
std::wstring vendorAgreementPageUrl() {
  return std::wstring(L"https://www.") + documents::vendorDomain() + L"/legal/agreement.html";
}

void openAddress(HWND window, const Ctx& ctx, const std::wstring& address) {
  ctx.collaborators.openAddress(window, address);
}

void openIfAllowed(HWND window, const Ctx& ctx, const std::wstring& address, int kind) {
  if (address.empty() || !documents::isAllowedLink(address, kind)) return;
  openAddress(window, ctx, address);
}

}  // namespace

void openInShell(HWND window, const std::wstring& address) {
  ShellExecuteW(window, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void showControl(HWND window, int id, bool show) {
  ShowWindow(control(window, id), show ? SW_SHOW : SW_HIDE);
}

void enableControl(HWND window, int id, bool enable) {
  EnableWindow(control(window, id), enable ? TRUE : FALSE);
}

void setControlText(HWND window, int id, const std::wstring& text) {
  SetWindowTextW(control(window, id), text.c_str());
}

bool isColouredLink(int id) {
  for (int link : kLinkIds) {
    if (link == id) return true;
  }
  return false;
}

bool createControls(HWND window, Ctx& ctx, int dpi) {
  createFonts(ctx, dpi);

  const install::GpuInfo gpu = ctx.collaborators.detectGpu();
  ctx.gpuCapable = gpu.gpuCapable;
  ctx.recommendedTier = install::tierFor(gpu);
  const std::wstring gpuLine = install::gpuText(gpu);
  const documents::HintsDocument builtin = documents::builtInHints();

  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  for (const ControlDef& def : kControls) {
    const ControlRect r = controlRect(def.id, dpi);
    const std::wstring text = initialText(def, ctx, builtin, gpuLine);
    const bool isBar = def.font == FontKind::None;
    // Each control a group of its own: the arrow keys never move the focus onto a label.
    HWND child = CreateWindowExW(def.exStyle, def.cls, isBar ? nullptr : text.c_str(),
                                 WS_CHILD | WS_GROUP | def.style, r.x, r.y, r.w, r.h, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(def.id)), instance,
                                 nullptr);
    if (!child) return false;
    if (isLink(def.id)) SetWindowSubclass(child, linkProc, 0, 0);
    if (def.id == kIdOverallBar) {
      // Running from the start, so it moves whenever it is shown before a total is known.
      SendMessageW(child, PBM_SETMARQUEE, TRUE, 50);
    }
  }
  setFonts(window, ctx);
  return true;
}

void applyDpi(HWND window, Ctx& ctx, int dpi) {
  // The controls use the old fonts until they have the new ones; only then may those go.
  const util::GdiObject oldFonts[] = {std::move(ctx.titleFont), std::move(ctx.bodyFont),
                                      std::move(ctx.linkFont)};
  createFonts(ctx, dpi);
  setFonts(window, ctx);
  for (const ControlDef& def : kControls) {
    const ControlRect r = controlRect(def.id, dpi);
    SetWindowPos(control(window, def.id), nullptr, r.x, r.y, r.w, r.h, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (ctx.browserInPlace && !ctx.optionsShown) {
    const ControlRect r = controlRect(kIdAgreementEdit, dpi);
    ctx.browserRect = RECT{r.x, r.y, r.x + r.w, r.y + r.h};
    ctx.browserInPlace->SetObjectRects(&ctx.browserRect, &ctx.browserRect);
  }
}

void focusFirstControl(HWND window) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if ((style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) {
      SetFocus(child);
      return;
    }
  }
}

void prepareInstalledVariant(HWND window, Ctx& ctx) {
  setControlText(window, kIdFolderEdit, ctx.existingInstallDir);
  setControlText(window, kIdTitle, kInstalledTitle);
  setControlText(window, kIdSubtitle, kInstalledSubtitle);
  setControlText(window, kIdInstall, kRepairButton);
  showControl(window, kIdUninstall, true);
  showOptionsPage(window, ctx);
}

void showOptionsPage(HWND window, Ctx& ctx) {
  ctx.optionsShown = true;
  showControl(window, kIdAgreementTitle, false);
  showControl(window, kIdFullAgreementLink, false);
  showControl(window, kIdAgreementEdit, false);
  if (ctx.browserInPlace) {
    RECT empty{0, 0, 0, 0};
    ctx.browserInPlace->SetObjectRects(&empty, &empty);
  }
  showControl(window, kIdAgreementCheck, false);
  showControl(window, kIdDecline, false);
  showControl(window, kIdAccept, false);
  for (int id : kOptionsPageControls) showControl(window, id, true);
  showControl(window, kIdCuda, ctx.gpuCapable);
  refreshModelRows(window, ctx);
  showControl(window, kIdDataSourceLink1, !ctx.dataSourceUrls[0].empty());
  showControl(window, kIdDataSourceLink2, !ctx.dataSourceUrls[1].empty());
  showControl(window, kIdExtraLink, !ctx.extraLinkUrl.empty());
  SendMessageW(window, DM_SETDEFID, kIdInstall, 0);
  // Before the window is shown, its activation gives the focus to the first control.
  ctx.focusedControl = 0;
  if (IsWindowVisible(window)) focusFirstControl(window);
}

void refreshModelRows(HWND window, Ctx& ctx) {
  for (int i = 0; i < kModelRowCount; ++i) {
    const int id = kIdModelRow0 + i;
    if (static_cast<size_t>(i) >= ctx.models.size()) {
      showControl(window, id, false);
      continue;
    }
    const documents::ModelEntry& model = ctx.models[static_cast<size_t>(i)];
    std::wstring text = model.label;
    if (!ctx.recommendedTier.empty() && ctx.recommendedTier == model.tier) text += kRecommendedMark;
    setControlText(window, id, text);
    showControl(window, id, ctx.optionsShown);
  }
}

void applyHints(HWND window, Ctx& ctx, const documents::HintsDocument& document) {
  if (!document.dataSourceIntro.empty()) {
    setControlText(window, kIdDataSourceIntro, document.dataSourceIntro);
  }
  const int sourceLinks[2] = {kIdDataSourceLink1, kIdDataSourceLink2};
  for (size_t i = 0; i < 2; ++i) {
    const bool present = document.dataSources.size() > i;
    if (present) {
      setControlText(window, sourceLinks[i], document.dataSources[i].label);
      ctx.dataSourceUrls[i] = document.dataSources[i].url;
    } else {
      ctx.dataSourceUrls[i].clear();
    }
    showControl(window, sourceLinks[i], ctx.optionsShown && present);
  }
  if (!document.modelFileNote.empty()) setControlText(window, kIdModelFileNote, document.modelFileNote);
  if (!document.mirrorNote.empty()) setControlText(window, kIdMirrorNote, document.mirrorNote);
  if (!document.helpTitle.empty() && !document.helpUrl.empty()) {
    setControlText(window, kIdModelHelpLink, document.helpTitle);
    ctx.localModelHelpUrl = document.helpUrl;
  }
  if (!document.links.empty()) {
    setControlText(window, kIdExtraLink, document.links.front().label);
    ctx.extraLinkUrl = document.links.front().url;
  } else {
    ctx.extraLinkUrl.clear();
  }
  showControl(window, kIdExtraLink, ctx.optionsShown && !document.links.empty());
  if (!document.models.empty()) ctx.models = document.models;
  refreshModelRows(window, ctx);
}

std::wstring readInstallDir(HWND window) {
  HWND edit = control(window, kIdFolderEdit);
  const int length = GetWindowTextLengthW(edit);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(edit, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

void browseForFolder(HWND window, Ctx& ctx) {
  ComPtr<IFileDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&dialog)))) {
    return;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  dialog->SetTitle(kFolderDialogTitle);
  if (FAILED(dialog->Show(window))) return;

  ComPtr<IShellItem> item;
  if (FAILED(dialog->GetResult(&item))) return;
  wchar_t* raw = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &raw)) || !raw) return;
  const std::wstring path = raw;
  CoTaskMemFree(raw);

  setControlText(window, kIdFolderEdit, path);
  if (!ctx.createSubfolder) {
    CheckDlgButton(window, kIdSubfolder, BST_CHECKED);
    ctx.createSubfolder = true;
  }
}

bool openLinkControl(HWND window, Ctx& ctx, int id) {
  switch (id) {
    case kIdFullAgreementLink:
      openAddress(window, ctx, vendorAgreementPageUrl());
      return true;
    case kIdDataSourceLink1: openIfAllowed(window, ctx, ctx.dataSourceUrls[0], documents::kLinkKindMarketData); return true;
    case kIdDataSourceLink2: openIfAllowed(window, ctx, ctx.dataSourceUrls[1], documents::kLinkKindMarketData); return true;
    case kIdModelHelpLink: openIfAllowed(window, ctx, ctx.localModelHelpUrl, documents::kLinkKindVendor); return true;
    case kIdExtraLink: openIfAllowed(window, ctx, ctx.extraLinkUrl, documents::kLinkKindModelHub); return true;
    case kIdModelRow0:
    case kIdModelRow1:
    case kIdModelRow2: {
      const size_t row = static_cast<size_t>(id - kIdModelRow0);
      if (row < ctx.models.size()) openIfAllowed(window, ctx, ctx.models[row].url, documents::kLinkKindModelHub);
      return true;
    }
    default: return false;
  }
}

}  // namespace wizard
