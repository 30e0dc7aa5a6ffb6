#include "wizard/pages.h"

#include "util/paths.h"
#include "wizard/gpu.h"
#include "wizard/hints/link_allowlist.h"
#include "wizard/hints/vendor_domain.h"
#include "wizard/install_dir.h"
#include "wizard/layout.h"
#include "wizard/wizard_ids.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

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

// Every control, in creation order. Only the controls of the agreement page start visible.
const ControlDef kControls[] = {
    {kIdTitle, L"STATIC", L"OrvaloTrader", kShown, 0, FontKind::Title},
    {kIdAgreementTitle, L"STATIC", L"用户安装协议", kShown, 0, FontKind::Title},
    {kIdFullAgreementLink, L"STATIC", L"完整协议（网页版）↗", kShown | SS_NOTIFY | SS_RIGHT, 0,
     FontKind::Link},
    {kIdAgreementEdit, L"EDIT", L"正在获取用户安装协议…",
     kShown | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0, FontKind::Body},
    {kIdAgreementCheck, L"BUTTON", L"我已阅读并同意《用户安装协议》", kShown | BS_AUTOCHECKBOX, 0,
     FontKind::Body},
    {kIdDecline, L"BUTTON", L"拒绝并退出", kShown, 0, FontKind::Body},
    {kIdAccept, L"BUTTON", L"同意并继续", kShown | WS_DISABLED | WS_TABSTOP | BS_DEFPUSHBUTTON, 0,
     FontKind::Body},
    {kIdSubtitle, L"STATIC", L"在线安装 · 下载依赖与最新主程序并完成配置", 0, 0, FontKind::Body},
    {kIdFolderLabel, L"STATIC", L"安装位置", 0, 0, FontKind::Body},
    {kIdFolderEdit, L"EDIT", nullptr, ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, FontKind::Body},
    {kIdBrowse, L"BUTTON", L"浏览…", 0, 0, FontKind::Body},
    {kIdSubfolder, L"BUTTON", L"在所选位置下新建 OrvaloTrader 文件夹", BS_AUTOCHECKBOX, 0,
     FontKind::Body},
    {kIdDataSourceTitle, L"STATIC", L"行情数据源（必需）", 0, 0, FontKind::Title},
    {kIdDataSourceIntro, L"STATIC", nullptr, 0, 0, FontKind::Body},
    {kIdDataSourceLink1, L"STATIC", nullptr, SS_NOTIFY, 0, FontKind::Link},
    {kIdDataSourceLink2, L"STATIC", nullptr, SS_NOTIFY, 0, FontKind::Link},
    {kIdModelTitle, L"STATIC", L"本地大模型（可选）", 0, 0, FontKind::Title},
    {kIdGpuText, L"STATIC", nullptr, 0, 0, FontKind::Body},
    {kIdCuda, L"BUTTON", L"下载NVIDIA显卡加速组件（CUDA，本地大模型GPU推理用，约数百MB）",
     BS_AUTOCHECKBOX, 0, FontKind::Body},
    {kIdModelListLabel, L"STATIC", L"推荐模型（按显存匹配，点击打开下载页）：", 0, 0, FontKind::Body},
    {kIdModelRow0, L"STATIC", L"", SS_NOTIFY, 0, FontKind::Link},
    {kIdModelRow1, L"STATIC", L"", SS_NOTIFY, 0, FontKind::Link},
    {kIdModelRow2, L"STATIC", L"", SS_NOTIFY, 0, FontKind::Link},
    {kIdModelFileNote, L"STATIC", nullptr, 0, 0, FontKind::Body},
    {kIdMirrorNote, L"STATIC", nullptr, 0, 0, FontKind::Body},
    {kIdModelHelpLink, L"STATIC", nullptr, SS_NOTIFY, 0, FontKind::Link},
    {kIdExtraLink, L"STATIC", L"", SS_NOTIFY, 0, FontKind::Link},
    {kIdStatus, L"STATIC", L"", 0, 0, FontKind::Body},
    {kIdPackageLabel, L"STATIC", L"", 0, 0, FontKind::Body},
    {kIdPackageBar, PROGRESS_CLASSW, nullptr, PBS_SMOOTH, 0, FontKind::None},
    {kIdOverallBar, PROGRESS_CLASSW, nullptr, PBS_SMOOTH | PBS_MARQUEE, 0, FontKind::None},
    {kIdInstall, L"BUTTON", L"开始安装", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, FontKind::Body},
    {kIdCancel, L"BUTTON", L"取消", 0, 0, FontKind::Body},
    {kIdUninstall, L"BUTTON", L"卸载", 0, 0, FontKind::Body},
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

constexpr wchar_t kRecommendedMark[] = L"  ← 推荐";

HWND control(HWND window, int id) { return GetDlgItem(window, id); }

void createFonts(Ctx& ctx) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);

  LOGFONTW title = metrics.lfMessageFont;
  title.lfWeight = 600;
  ctx.titleFont.reset(CreateFontIndirectW(&title));
  ctx.bodyFont.reset(CreateFontIndirectW(&metrics.lfMessageFont));

  LOGFONTW link{};
  if (ctx.bodyFont && GetObjectW(ctx.bodyFont.get(), sizeof link, &link) != 0) {
    link.lfUnderline = TRUE;
    ctx.linkFont.reset(CreateFontIndirectW(&link));
  }
}

void setFont(HWND window, int id, const util::GdiObject& font) {
  SendMessageW(control(window, id), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
}

void setFonts(HWND window, const Ctx& ctx) {
  for (const ControlDef& def : kControls) {
    if (def.id != kIdFullAgreementLink && def.id != kIdOverallBar && def.id != kIdPackageBar) {
      setFont(window, def.id, ctx.bodyFont);
    }
  }
  for (int id : {kIdTitle, kIdAgreementTitle, kIdDataSourceTitle, kIdModelTitle}) {
    setFont(window, id, ctx.titleFont);
  }
  for (int id : {kIdFullAgreementLink, kIdDataSourceLink1, kIdDataSourceLink2, kIdModelHelpLink,
                 kIdExtraLink, kIdModelRow0, kIdModelRow1, kIdModelRow2}) {
    setFont(window, id, ctx.linkFont);
  }
}

// Texts that depend on the machine or on the built-in hints.
std::wstring initialText(const ControlDef& def, const Ctx& ctx, const HintsDocument& builtin,
                         const std::wstring& gpuLine) {
  switch (def.id) {
    case kIdFolderEdit: return defaultInstallDir(util::localAppDataDirectory());
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
  return std::wstring(L"https://www.") + vendorDomain() + L"/legal/agreement.html";
}

void openIfAllowed(HWND window, const std::wstring& address, int kind) {
  if (address.empty() || !isAllowedLink(address, kind)) return;
  ShellExecuteW(window, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

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
  createFonts(ctx);

  const GpuInfo gpu = ctx.gpuDetector ? ctx.gpuDetector() : detectGpu();
  ctx.gpuCapable = gpu.gpuCapable;
  ctx.recommendedTier = tierFor(gpu);
  const std::wstring gpuLine = gpuText(gpu);
  const HintsDocument builtin = builtInHints();

  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  for (const ControlDef& def : kControls) {
    const ControlRect r = controlRect(def.id, dpi);
    const std::wstring text = initialText(def, ctx, builtin, gpuLine);
    const bool isBar = def.font == FontKind::None;
    HWND child = CreateWindowExW(def.exStyle, def.cls, isBar ? nullptr : text.c_str(),
                                 WS_CHILD | def.style, r.x, r.y, r.w, r.h, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(def.id)), instance,
                                 nullptr);
    if (!child) return false;
    if (def.id == kIdOverallBar) {
      // Running from the start, so it moves whenever it is shown before a total is known.
      SendMessageW(child, PBM_SETMARQUEE, TRUE, 50);
    }
  }
  setFonts(window, ctx);
  return true;
}

void prepareInstalledVariant(HWND window, Ctx& ctx) {
  setControlText(window, kIdFolderEdit, ctx.existingInstallDir);
  setControlText(window, kIdTitle, L"Orvalo量化 已安装");
  setControlText(window, kIdSubtitle, L"检测到已安装，可重新安装 / 修复（覆盖程序文件），或卸载");
  setControlText(window, kIdInstall, L"重新安装 / 修复");
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
}

void refreshModelRows(HWND window, Ctx& ctx) {
  for (int i = 0; i < kModelRowCount; ++i) {
    const int id = kIdModelRow0 + i;
    if (static_cast<size_t>(i) >= ctx.models.size()) {
      showControl(window, id, false);
      continue;
    }
    const ModelEntry& model = ctx.models[static_cast<size_t>(i)];
    std::wstring text = model.label;
    if (!ctx.recommendedTier.empty() && ctx.recommendedTier == model.tier) text += kRecommendedMark;
    setControlText(window, id, text);
    showControl(window, id, ctx.optionsShown);
  }
}

void applyHints(HWND window, Ctx& ctx, const HintsDocument& document) {
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
  dialog->SetTitle(L"选择安装位置");
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
      ShellExecuteW(window, L"open", vendorAgreementPageUrl().c_str(), nullptr, nullptr,
                    SW_SHOWNORMAL);
      return true;
    case kIdDataSourceLink1: openIfAllowed(window, ctx.dataSourceUrls[0], kLinkKindMarketData); return true;
    case kIdDataSourceLink2: openIfAllowed(window, ctx.dataSourceUrls[1], kLinkKindMarketData); return true;
    case kIdModelHelpLink: openIfAllowed(window, ctx.localModelHelpUrl, kLinkKindVendor); return true;
    case kIdExtraLink: openIfAllowed(window, ctx.extraLinkUrl, kLinkKindModelHub); return true;
    case kIdModelRow0:
    case kIdModelRow1:
    case kIdModelRow2: {
      const size_t row = static_cast<size_t>(id - kIdModelRow0);
      if (row < ctx.models.size()) openIfAllowed(window, ctx.models[row].url, kLinkKindModelHub);
      return true;
    }
    default: return false;
  }
}

}  // namespace wizard
