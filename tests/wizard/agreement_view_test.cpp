// The agreement view's OLE site and the in-place WebBrowser control. Wine has no HTML engine
// here, so everything up to the navigation is checked, not what the control draws.
#include "support/live_allocations.h"
#include "util/files.h"
#include "wizard/agreement_events.h"
#include "wizard/agreement_view.h"
#include "wizard_harness.h"

#include <gtest/gtest.h>

#include <exdispid.h>
#include <idispids.h>
#include <mshtmdid.h>
#include <ole2.h>

using namespace testing_support;
using wizard::newAgreementOleSite;

namespace {

class AgreementView : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    host_ = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 10, 10, 400, 300, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(host_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(host_);
    OleUninitialize();
  }
  HWND host_ = nullptr;
};

TEST_F(AgreementView, SiteHandsOutItsFourFacesAndNothingElse) {
  IOleClientSite* site = newAgreementOleSite(host_);
  void* out = nullptr;
  EXPECT_EQ(site->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

  ASSERT_EQ(site->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, site);
  static_cast<IUnknown*>(out)->Release();
  ASSERT_EQ(site->QueryInterface(IID_IOleClientSite, &out), S_OK);
  EXPECT_EQ(out, site);
  static_cast<IUnknown*>(out)->Release();

  IOleInPlaceSite* inPlace = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace)), S_OK);
  IOleInPlaceFrame* frame = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceFrame, reinterpret_cast<void**>(&frame)), S_OK);
  // Every face leads back to the same object.
  void* unknown = nullptr;
  ASSERT_EQ(frame->QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, site);
  static_cast<IUnknown*>(unknown)->Release();
  ASSERT_EQ(inPlace->QueryInterface(IID_IOleClientSite, &unknown), S_OK);
  EXPECT_EQ(unknown, site);
  static_cast<IUnknown*>(unknown)->Release();

  for (const IID* iid : {&IID_IOleWindow, &IID_IOleInPlaceUIWindow, &IID_IOleObject}) {
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(site->QueryInterface(*iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  frame->Release();
  inPlace->Release();
  EXPECT_EQ(site->Release(), 0u);
}

TEST_F(AgreementView, CountReachingZeroDeletesTheSiteExactlyOnce) {
  const long before = liveAllocations();
  IOleClientSite* site = newAgreementOleSite(host_);
  EXPECT_EQ(liveAllocations(), before + 1);
  EXPECT_EQ(site->AddRef(), 2u);
  IOleInPlaceFrame* frame = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceFrame, reinterpret_cast<void**>(&frame)), S_OK);
  EXPECT_EQ(frame->AddRef(), 4u);  // one count for all faces
  EXPECT_EQ(frame->Release(), 3u);
  EXPECT_EQ(frame->Release(), 2u);
  EXPECT_EQ(site->Release(), 1u);
  EXPECT_EQ(liveAllocations(), before + 1);
  EXPECT_EQ(site->Release(), 0u);
  EXPECT_EQ(liveAllocations(), before);
}

TEST_F(AgreementView, WindowContextIsTheHostsClientAreaAndFrame) {
  IOleClientSite* site = newAgreementOleSite(host_);
  IOleInPlaceSite* inPlace = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace)), S_OK);
  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(1);
  RECT position{-1, -1, -1, -1}, clip{-1, -1, -1, -1};
  OLEINPLACEFRAMEINFO info{};
  info.haccel = reinterpret_cast<HACCEL>(1);
  info.cAccelEntries = 7;
  ASSERT_EQ(inPlace->GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
  IUnknown* frameFace = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceFrame, reinterpret_cast<void**>(&frameFace)), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(frame), frameFace);
  EXPECT_EQ(document, nullptr);
  RECT client{};
  GetClientRect(host_, &client);
  EXPECT_TRUE(EqualRect(&position, &client));
  EXPECT_TRUE(EqualRect(&clip, &client));
  EXPECT_EQ(info.cb, 32u);
  EXPECT_FALSE(info.fMDIApp);
  EXPECT_EQ(info.hwndFrame, host_);
  EXPECT_EQ(info.haccel, nullptr);
  EXPECT_EQ(info.cAccelEntries, 0u);
  // Every out pointer may be missing.
  EXPECT_EQ(inPlace->GetWindowContext(nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  frameFace->Release();
  EXPECT_EQ(frame->Release(), 2u);  // the frame reference of GetWindowContext was added
  inPlace->Release();
  EXPECT_EQ(site->Release(), 0u);
}

TEST_F(AgreementView, BrowserIsCreatedInPlaceAndLogsItsSteps) {
  PrivateTempFolder temp;
  const RECT area{20, 30, 220, 130};
  IWebBrowser2* browser = reinterpret_cast<IWebBrowser2*>(1);
  IOleInPlaceObject* inPlace = reinterpret_cast<IOleInPlaceObject*>(1);
  ASSERT_TRUE(wizard::createAgreementBrowser(host_, area, &browser, &inPlace));
  ASSERT_NE(browser, nullptr);
  ASSERT_NE(inPlace, nullptr);
  const std::vector<std::string> expected = {"DoVerb hr=0x00000000", "createAgreementBrowser OK"};
  EXPECT_EQ(temp.debugLines(), expected);

  // The control's own window sits on the rectangle, as a child of the host.
  HWND control = GetWindow(host_, GW_CHILD);
  ASSERT_NE(control, nullptr);
  RECT placed{};
  GetWindowRect(control, &placed);
  MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_TRUE(EqualRect(&placed, &area));

  inPlace->Release();
  browser->Release();
}

TEST_F(AgreementView, ReleasingTheBrowserFreesItsSite) {
  PrivateTempFolder temp;
  const long before = liveAllocations();
  IWebBrowser2* browser = nullptr;
  IOleInPlaceObject* inPlace = nullptr;
  ASSERT_TRUE(wizard::createAgreementBrowser(host_, RECT{0, 0, 200, 100}, &browser, &inPlace));
  inPlace->Release();
  browser->Release();
  EXPECT_EQ(liveAllocations(), before);
}

// The control asks its site (the IDispatch face) for the download control before it loads a page.
TEST_F(AgreementView, SiteForbidsScriptsControlsFramesAndImagesAndAnswersNothingElse) {
  IOleClientSite* site = newAgreementOleSite(host_);
  IDispatch* ambient = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient)), S_OK);
  DISPPARAMS none{};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                            nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, DLCTL_NO_SCRIPTS | DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS |
                             DLCTL_NO_FRAMEDOWNLOAD | DLCTL_NO_BEHAVIORS | DLCTL_NO_CLIENTPULL | DLCTL_SILENT);
  EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_SILENT, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  ambient->Release();
  EXPECT_EQ(site->Release(), 0u);
}

// Through the real control, which reports a cancelled navigation by staying where it was.
TEST_F(AgreementView, EventsLetOnlyTheFirstNavigationOfEachSubscriptionThrough) {
  PrivateTempFolder temp;
  ASSERT_TRUE(util::writeFile(temp / L"a.html", "a", 1));
  IWebBrowser2* browser = nullptr;
  IOleInPlaceObject* inPlace = nullptr;
  ASSERT_TRUE(wizard::createAgreementBrowser(host_, RECT{0, 0, 200, 100}, &browser, &inPlace));
  const auto go = [&](const std::wstring& url) {  // where the control is afterwards
    BSTR address = SysAllocString(url.c_str());
    VARIANT empty;
    VariantInit(&empty);
    browser->Navigate(address, &empty, &empty, &empty, &empty);
    SysFreeString(address);
    MSG msg;  // the control ends a navigation in messages it posts to itself
    for (int i = 0; i < 30; ++i, Sleep(10)) {
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    BSTR location = nullptr;
    browser->get_LocationURL(&location);
    const std::wstring where = location ? location : L"";
    SysFreeString(location);
    return where;
  };
  const std::wstring link = L"http://127.0.0.1:1/elsewhere.html";  // no vendor link: nothing opens
  wizard::AgreementEvents events;
  ASSERT_TRUE(events.connect(browser));
  const std::wstring page = go(wizard::agreementFileUrl(temp / L"a.html"));
  EXPECT_NE(page.find(L"a.html"), std::wstring::npos) << page;
  EXPECT_EQ(go(link), page);

  ASSERT_TRUE(events.connect(browser));  // as for the next page the wizard opens
  EXPECT_EQ(go(link), link);
  EXPECT_EQ(go(wizard::agreementFileUrl(temp / L"a.html")), link);

  const long subscribed = liveAllocations();
  events.reset();
  EXPECT_EQ(liveAllocations(), subscribed - 1);
  EXPECT_EQ(go(wizard::agreementFileUrl(temp / L"a.html")), page);
  inPlace->Release();
  browser->Release();
}

// Popups (links with a target) come as new windows, NewWindow3 with its address, then NewWindow2.
TEST(AgreementEventSink, CancelsEveryNewWindow) {
  IDispatch* sink = wizard::newAgreementEventSink();
  VARIANT_BOOL cancel = VARIANT_FALSE;
  VARIANT args[5];  // last first: bstrUrl, bstrUrlContext, dwFlags, Cancel, ppDisp
  for (VARIANT& v : args) VariantInit(&v);
  args[3].vt = VT_BYREF | VT_BOOL;
  args[3].pboolVal = &cancel;
  DISPPARAMS params{args, nullptr, 5, 0};
  EXPECT_EQ(sink->Invoke(DISPID_NEWWINDOW3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(cancel, VARIANT_TRUE);
  cancel = VARIANT_FALSE;
  params = DISPPARAMS{&args[3], nullptr, 2, 0};  // Cancel, ppDisp
  EXPECT_EQ(sink->Invoke(DISPID_NEWWINDOW2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(cancel, VARIANT_TRUE);
  EXPECT_EQ(sink->Release(), 0u);
}

TEST(AgreementFileUrl, TakesThePathWithSlashesAndNoEscaping) {
  EXPECT_EQ(wizard::agreementFileUrl(L"C:\\Users\\张 三\\Temp\\OrvaloSetup_agreement.html"),
            L"file:///C:/Users/张 三/Temp/OrvaloSetup_agreement.html");
  EXPECT_EQ(wizard::agreementFileUrl(L"Z:\\a b\\%20#.html"), L"file:///Z:/a b/%20#.html");
}

}  // namespace
