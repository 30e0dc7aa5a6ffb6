#include "wizard/layout.h"

#include "wizard/wizard_ids.h"

#include <gtest/gtest.h>

#include <vector>

using namespace wizard;

namespace {

const int kDpis[] = {96, 120, 144, 192};

// The controls each page can show at once (the options page with its install progress).
const std::vector<int> kAgreementPage = {kIdTitle,         kIdAgreementTitle, kIdFullAgreementLink,
                                         kIdAgreementEdit, kIdAgreementCheck, kIdDecline,
                                         kIdAccept};
const std::vector<int> kOptionsPage = {
    kIdTitle,          kIdSubtitle,        kIdFolderLabel,     kIdFolderEdit,  kIdBrowse,
    kIdSubfolder,      kIdDataSourceTitle, kIdDataSourceIntro, kIdDataSourceLink1, kIdDataSourceLink2,
    kIdModelTitle,     kIdGpuText,         kIdCuda,            kIdModelListLabel, kIdModelRow0,
    kIdModelRow1,      kIdModelRow2,       kIdModelFileNote,   kIdMirrorNote,  kIdModelHelpLink,
    kIdExtraLink,      kIdStatus,          kIdPackageLabel,    kIdPackageBar,  kIdOverallBar,
    kIdUninstall,      kIdCancel,          kIdInstall};

bool overlap(const ControlRect& a, const ControlRect& b) {
  return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

}  // namespace

TEST(WizardLayout, EveryControlLiesInsideTheClientArea) {
  for (int dpi : kDpis) {
    const ControlRect client = clientRect(dpi);
    for (int id = kIdTitle; id <= kIdPackageBar; ++id) {
      const ControlRect r = controlRect(id, dpi);
      ASSERT_GT(r.w, 0) << id;
      ASSERT_GT(r.h, 0) << id;
      EXPECT_GE(r.x, 0) << id << " at " << dpi;
      EXPECT_GE(r.y, 0) << id << " at " << dpi;
      EXPECT_LE(r.x + r.w, client.w) << id << " at " << dpi;
      EXPECT_LE(r.y + r.h, client.h) << id << " at " << dpi;
    }
  }
}

// Each term is rounded on its own, so neighbours that touch at 96 DPI could overlap by a pixel
// elsewhere.
TEST(WizardLayout, NoTwoControlsOfAPageOverlapAtAnyDpi) {
  for (const std::vector<int>* page : {&kAgreementPage, &kOptionsPage}) {
    for (int dpi : kDpis) {
      for (size_t i = 0; i < page->size(); ++i) {
        for (size_t j = i + 1; j < page->size(); ++j) {
          const int a = (*page)[i], b = (*page)[j];
          EXPECT_FALSE(overlap(controlRect(a, dpi), controlRect(b, dpi))) << a << " and " << b << " at " << dpi;
        }
      }
    }
  }
}

TEST(WizardLayout, UnknownIdHasNoRectangle) {
  EXPECT_EQ(controlRect(1999, 96), ControlRect{});
  EXPECT_EQ(controlRect(2035, 96), ControlRect{});
}
