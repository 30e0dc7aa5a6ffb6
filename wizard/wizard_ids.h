// Control ids, private messages and fixed numbers of the wizard window, in one place.
#pragma once

namespace wizard {

enum ControlId : int {
  kIdTitle = 2001,
  kIdSubtitle = 2002,
  kIdFolderLabel = 2003,
  kIdFolderEdit = 2004,
  kIdBrowse = 2005,
  kIdModelHelpLink = 2006,
  kIdModelFileNote = 2007,
  kIdStatus = 2008,
  kIdOverallBar = 2009,
  kIdCancel = 2010,
  kIdInstall = 2011,
  kIdSubfolder = 2012,
  kIdAgreementTitle = 2013,
  kIdAgreementEdit = 2014,
  kIdAgreementCheck = 2015,
  kIdDecline = 2016,
  kIdAccept = 2017,
  kIdDataSourceIntro = 2018,
  kIdDataSourceLink1 = 2019,
  kIdDataSourceLink2 = 2020,
  kIdFullAgreementLink = 2021,
  kIdExtraLink = 2022,
  kIdMirrorNote = 2023,
  kIdDataSourceTitle = 2024,
  kIdModelTitle = 2025,
  kIdGpuText = 2026,
  kIdModelListLabel = 2027,
  kIdModelRow0 = 2028,
  kIdModelRow1 = 2029,
  kIdModelRow2 = 2030,
  kIdUninstall = 2031,
  kIdCuda = 2032,
  kIdPackageLabel = 2033,
  kIdPackageBar = 2034,
};

constexpr int kModelRowCount = 3;

// Client area at 96 DPI.
constexpr int kClientWidth = 620;
constexpr int kClientHeight = 634;

// The one timer: closes the window a moment after a successful install.
constexpr unsigned kCloseTimerId = 1;
constexpr unsigned kCloseDelayMs = 1200;

// Link text colour, RGB(0, 102, 204).
constexpr unsigned long kLinkColor = 0x00CC6600;

}  // namespace wizard
