#include "wizard/layout.h"

#include "wizard/wizard_ids.h"

#include <cstdint>
#include <cstdlib>

namespace wizard {

int scaleForDpi(int value, int dpi) {
  // Same rounding as MulDiv: the exact quotient rounded half away from zero.
  const int64_t product = static_cast<int64_t>(value) * dpi;
  const int64_t half = 48;
  const int64_t q = (std::llabs(product) + half) / 96;
  return static_cast<int>(product < 0 ? -q : q);
}

ControlRect clientRect(int dpi) {
  return {0, 0, scaleForDpi(kClientWidth, dpi), scaleForDpi(kClientHeight, dpi)};
}

ControlRect controlRect(int id, int dpi) {
  auto D = [dpi](int v) { return scaleForDpi(v, dpi); };
  const int W = D(kClientWidth);
  const int M = D(28);
  const int CW = W - 2 * M;
  const int R = W - M;

  switch (id) {
    case kIdTitle: return {M, D(20), CW, D(30)};
    case kIdAgreementTitle: return {M, D(56), CW - D(220), D(22)};
    case kIdFullAgreementLink: return {R - D(220), D(60), D(220), D(18)};
    case kIdAgreementEdit: return {M, D(84), CW, D(430)};
    case kIdAgreementCheck: return {M, D(522), CW, D(22)};
    case kIdDecline: return {R - D(236), D(564), D(110), D(34)};
    case kIdAccept: return {R - D(118), D(564), D(118), D(34)};
    case kIdSubtitle: return {M, D(54), CW, D(20)};
    case kIdFolderLabel: return {M, D(88), D(60), D(20)};
    case kIdFolderEdit: return {M + D(64), D(84), CW - D(180), D(26)};
    case kIdBrowse: return {R - D(106), D(82), D(106), D(30)};
    case kIdSubfolder: return {M, D(116), CW, D(24)};
    case kIdDataSourceTitle: return {M, D(172), CW, D(20)};
    case kIdDataSourceIntro: return {M, D(196), CW, D(36)};
    case kIdDataSourceLink1: return {M, D(236), D(240), D(22)};
    case kIdDataSourceLink2: return {M + D(250), D(236), D(270), D(22)};
    case kIdModelTitle: return {M, D(272), CW, D(20)};
    case kIdGpuText: return {M, D(296), CW, D(40)};
    case kIdCuda: return {M, D(340), CW, D(22)};
    case kIdModelListLabel: return {M, D(362), CW, D(18)};
    case kIdModelRow0:
    case kIdModelRow1:
    case kIdModelRow2: {
      // One pitch, scaled once, for all rows: rows scaled one by one would overlap by a pixel
      // where the rounding of the top and of the height add up. Tall enough for CJK glyphs.
      const int row = id - kIdModelRow0;
      return {M + D(10), D(382) + row * D(18), CW - D(10), D(18)};
    }
    case kIdModelFileNote: return {M, D(438), CW, D(18)};
    case kIdMirrorNote: return {M, D(458), CW, D(30)};
    case kIdModelHelpLink: return {M, D(492), D(240), D(18)};
    case kIdExtraLink: return {M + D(250), D(492), D(270), D(18)};
    case kIdStatus: return {M, D(518), CW, D(26)};
    case kIdPackageLabel: return {M, D(548), D(110), D(16)};
    case kIdPackageBar: return {M + D(118), D(549), CW - D(118), D(14)};
    case kIdOverallBar: return {M, D(568), CW, D(14)};
    case kIdInstall: return {R - D(118), D(586), D(118), D(34)};
    case kIdCancel: return {W - D(12) - D(110) - M - D(118), D(586), D(110), D(34)};
    case kIdUninstall: return {M, D(586), D(150), D(34)};
    default: return {};
  }
}

}  // namespace wizard
