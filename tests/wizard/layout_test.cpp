#include "wizard/layout.h"

#include "wizard/wizard_ids.h"

#include <gtest/gtest.h>

using wizard::controlRect;
using wizard::ControlRect;

TEST(WizardLayout, ValuesAt96DpiAreTheDesignValues) {
  EXPECT_EQ(controlRect(wizard::kIdFullAgreementLink, 96), (ControlRect{372, 60, 220, 18}));
  EXPECT_EQ(controlRect(wizard::kIdFolderEdit, 96), (ControlRect{92, 84, 384, 26}));
  EXPECT_EQ(controlRect(wizard::kIdBrowse, 96), (ControlRect{486, 82, 106, 30}));
  EXPECT_EQ(controlRect(wizard::kIdDataSourceLink2, 96), (ControlRect{278, 236, 270, 22}));
  EXPECT_EQ(controlRect(wizard::kIdModelRow2, 96), (ControlRect{38, 416, 554, 17}));
  EXPECT_EQ(controlRect(wizard::kIdPackageBar, 96), (ControlRect{146, 549, 446, 14}));
  EXPECT_EQ(controlRect(wizard::kIdCancel, 96), (ControlRect{352, 586, 110, 34}));
  EXPECT_EQ(controlRect(wizard::kIdDecline, 96), (ControlRect{356, 564, 110, 34}));
}

TEST(WizardLayout, ScalesEachTermSeparately) {
  // At 120 DPI the terms round on their own: W = 775, M = 35, so R - D(220) = 740 - 275.
  EXPECT_EQ(controlRect(wizard::kIdFullAgreementLink, 120), (ControlRect{465, 75, 275, 23}));
  EXPECT_EQ(controlRect(wizard::kIdModelRow1, 144), (ControlRect{57, 599, 831, 26}));
  EXPECT_EQ(wizard::clientRect(144), (ControlRect{0, 0, 930, 951}));
}

TEST(WizardLayout, EveryControlLiesInsideTheClientArea) {
  for (int dpi : {96, 120, 144, 192}) {
    const ControlRect client = wizard::clientRect(dpi);
    for (int id = wizard::kIdTitle; id <= wizard::kIdPackageBar; ++id) {
      const ControlRect r = controlRect(id, dpi);
      ASSERT_GT(r.w, 0) << id;
      EXPECT_GE(r.x, 0) << id << " at " << dpi;
      EXPECT_LE(r.x + r.w, client.w) << id << " at " << dpi;
      EXPECT_LE(r.y + r.h, client.h) << id << " at " << dpi;
    }
  }
}

TEST(WizardLayout, UnknownIdHasNoRectangle) {
  EXPECT_EQ(controlRect(1999, 96), ControlRect{});
  EXPECT_EQ(controlRect(2035, 96), ControlRect{});
}
