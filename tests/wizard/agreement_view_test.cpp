// The agreement view's OLE site and the in-place WebBrowser control. Wine has no HTML engine
// here, so everything up to the navigation is checked, not what the control draws.
#include "support/live_allocations.h"
#include "wizard/agreement_view.h"
#include "wizard_harness.h"

#include <gtest/gtest.h>

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

TEST_F(AgreementView, SiteHandsOutItsThreeFacesAndNothingElse) {
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

  for (const IID* iid : {&IID_IOleWindow, &IID_IOleInPlaceUIWindow, &IID_IDispatch, &IID_IOleObject}) {
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

TEST_F(AgreementView, MethodsAnswerAsAContainerWithoutMenusOrBorders) {
  IOleClientSite* site = newAgreementOleSite(host_);
  IOleInPlaceSite* inPlace = nullptr;
  IOleInPlaceFrame* frame = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace)), S_OK);
  ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceFrame, reinterpret_cast<void**>(&frame)), S_OK);

  EXPECT_EQ(site->SaveObject(), S_OK);
  IMoniker* moniker = nullptr;
  EXPECT_EQ(site->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, &moniker), E_NOTIMPL);
  IOleContainer* container = nullptr;
  EXPECT_EQ(site->GetContainer(&container), E_NOTIMPL);
  EXPECT_EQ(site->ShowObject(), S_OK);
  EXPECT_EQ(site->OnShowWindow(TRUE), S_OK);
  EXPECT_EQ(site->RequestNewObjectLayout(), S_OK);

  HWND window = nullptr;
  EXPECT_EQ(inPlace->GetWindow(&window), S_OK);
  EXPECT_EQ(window, host_);
  EXPECT_EQ(inPlace->GetWindow(nullptr), E_POINTER);
  EXPECT_EQ(inPlace->ContextSensitiveHelp(TRUE), E_NOTIMPL);
  EXPECT_EQ(inPlace->CanInPlaceActivate(), S_OK);
  EXPECT_EQ(inPlace->OnInPlaceActivate(), S_OK);
  EXPECT_EQ(inPlace->OnUIActivate(), S_OK);
  EXPECT_EQ(inPlace->Scroll(SIZE{1, 1}), S_OK);
  EXPECT_EQ(inPlace->OnUIDeactivate(FALSE), S_OK);
  EXPECT_EQ(inPlace->OnInPlaceDeactivate(), S_OK);
  EXPECT_EQ(inPlace->DiscardUndoState(), S_OK);
  EXPECT_EQ(inPlace->DeactivateAndUndo(), S_OK);
  RECT r{1, 2, 3, 4};
  EXPECT_EQ(inPlace->OnPosRectChange(&r), S_OK);

  window = nullptr;
  EXPECT_EQ(frame->GetWindow(&window), S_OK);
  EXPECT_EQ(window, host_);
  EXPECT_EQ(frame->GetWindow(nullptr), E_POINTER);
  EXPECT_EQ(frame->ContextSensitiveHelp(FALSE), E_NOTIMPL);
  EXPECT_EQ(frame->GetBorder(&r), E_NOTIMPL);
  BORDERWIDTHS widths{};
  EXPECT_EQ(frame->RequestBorderSpace(&widths), E_NOTIMPL);
  EXPECT_EQ(frame->SetBorderSpace(&widths), S_OK);
  EXPECT_EQ(frame->SetActiveObject(nullptr, nullptr), S_OK);
  OLEMENUGROUPWIDTHS groups{};
  EXPECT_EQ(frame->InsertMenus(nullptr, &groups), E_NOTIMPL);
  EXPECT_EQ(frame->SetMenu(nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(frame->RemoveMenus(nullptr), S_OK);
  EXPECT_EQ(frame->SetStatusText(L"x"), S_OK);
  EXPECT_EQ(frame->EnableModeless(TRUE), S_OK);
  MSG msg{};
  EXPECT_EQ(frame->TranslateAccelerator(&msg, 0), E_NOTIMPL);

  frame->Release();
  inPlace->Release();
  EXPECT_EQ(site->Release(), 0u);
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

TEST(AgreementFileUrl, TakesThePathWithSlashesAndNoEscaping) {
  EXPECT_EQ(wizard::agreementFileUrl(L"C:\\Users\\张 三\\Temp\\OrvaloSetup_agreement.html"),
            L"file:///C:/Users/张 三/Temp/OrvaloSetup_agreement.html");
  EXPECT_EQ(wizard::agreementFileUrl(L"Z:\\a b\\%20#.html"), L"file:///Z:/a b/%20#.html");
}

}  // namespace
