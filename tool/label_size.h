#ifndef TOOL_LABEL_SIZE_H_
#define TOOL_LABEL_SIZE_H_

#include <cstdint>

// Millimetres per inch as the driver's data files were made with (not 25.4).
inline constexpr double kMmPerInch = 25.43859649;

// Width and length of a label in printer dots (300 per inch) for the paper
// info file, after the printer's margins. False when the result does not fit
// a 32-bit signed integer.
bool WidthDots(int32_t width_mm, int32_t* dots);
bool HeightDots(int32_t height_mm, int32_t* dots);

// Printable area in points (72 per inch) for the imaging area file.
inline constexpr double kLeftMarginPoints = 4.32;
inline constexpr double kBottomMarginPoints = 8.4;
double RightEdgePoints(int32_t width_mm);
double TopEdgePoints(int32_t height_mm);

#endif  // TOOL_LABEL_SIZE_H_
