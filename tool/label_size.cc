#include "tool/label_size.h"

#include <limits>

namespace {

constexpr int32_t kWidthMarginMm = 3;
constexpr int32_t kHeightMarginMm = 6;
// The 54 mm tape is printed 590 dots wide, not the 601 the formula gives.
constexpr int32_t kSpecialWidthMm = 54;
constexpr int32_t kSpecialWidthDots = 590;

// Divides first, then multiplies, each step rounded to double, so that a
// wider floating-point unit gives the same figures.
bool ToDots(int32_t mm, int32_t margin, int32_t* dots) {
  double inches = static_cast<double>(static_cast<int64_t>(mm) - margin);
  inches = inches / kMmPerInch;
  double exact = inches * 300.0;
  if (exact >= static_cast<double>(std::numeric_limits<int32_t>::max()) + 1.0 ||
      exact <= static_cast<double>(std::numeric_limits<int32_t>::min()) - 1.0) {
    return false;
  }
  *dots = static_cast<int32_t>(exact);  // truncates toward zero
  return true;
}

double ToPoints(int32_t mm, double margin) {
  double inches = static_cast<double>(mm) / kMmPerInch;
  double points = inches * 72.0;
  points = points - margin;
  return points;
}

}  // namespace

bool WidthDots(int32_t width_mm, int32_t* dots) {
  if (width_mm == kSpecialWidthMm) {
    *dots = kSpecialWidthDots;
    return true;
  }
  return ToDots(width_mm, kWidthMarginMm, dots);
}

bool HeightDots(int32_t height_mm, int32_t* dots) {
  return ToDots(height_mm, kHeightMarginMm, dots);
}

double RightEdgePoints(int32_t width_mm) { return ToPoints(width_mm, kLeftMarginPoints); }

double TopEdgePoints(int32_t height_mm) { return ToPoints(height_mm, kBottomMarginPoints); }
