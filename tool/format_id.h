#ifndef TOOL_FORMAT_ID_H_
#define TOOL_FORMAT_ID_H_

// Format identifiers and the entry lines that carry them: how they are made,
// how a line is read back, and the label sizes in dots and points that the
// entry lines hold (with their inverse, for the listing).

#include <cstdint>
#include <string>
#include <string_view>

// A new format identifier: "KsL", then the name length, width, height (low 12
// bits), seconds (low 4 bits) and microseconds (low 16 bits) in upper-case
// hex. 15 characters for widths below 256 mm, more for wider ones.
std::string MakeFormatId(int name_length, int32_t width, int32_t height, int64_t seconds,
                         long microseconds);

// Hex digits after "KsL" in the shortest identifier (widths below 256 mm
// give exactly this many).
inline constexpr size_t kMinIdDigits = 12;

// The identifier a line holds, looked at up to its first zero byte and its
// newline: the line's first "KsL" and the whole run of upper-case hex digits
// after it (at least kMinIdDigits); empty if the line has none. A line "is"
// of an identifier when this returns exactly that identifier, so that one
// identifier that extends another is never taken for it.
std::string_view FormatIdIn(std::string_view line);

// Whether |text| as a whole is an identifier.
bool IsFormatId(std::string_view text);

// The entry's name: as many bytes as the identifier's fourth and fifth
// characters give in hex, after the one separator character that follows
// the identifier |id| (found in |line| by FormatIdIn, or else looked for in
// it). False if the line ends first.
bool EntryNameIn(std::string_view line, std::string_view id, std::string_view* name);

// The identifier of |line| if it is an entry named |name| (as FormatIdIn
// and EntryNameIn read it), else empty.
std::string_view EntryIdNamed(std::string_view line, std::string_view name);

// Whether |line| is a setting whose value (everything after its first '=',
// up to the line's ending, LF or CRLF) is |id|: the rc file's way of
// naming a medium.
bool SettingValueIs(std::string_view line, std::string_view id);

// A line's ending: "\r\n" for a CRLF line, otherwise "\n" (also for a last
// line without one, which then gets it).
std::string_view LineEnding(std::string_view line);

// The func list's section header; user formats go directly after it.
inline constexpr const char kCustomTapeHeader[] = "[CustomTape]";

// The rc line that replaces a setting naming a deleted format.
inline constexpr const char kRcResetLine[] = "MediaSize=29x90\n";

// A setting |line| that SettingValueIs found: reset to kRcResetLine, or
// renamed to |id| with its key kept, the line's ending kept either way.
std::string ResetSetting(std::string_view line);
std::string RenamedSetting(std::string_view line, std::string_view id);

// The entry lines an add writes. PaperInfoLine is false if the size in
// dots does not fit 32 bits.
std::string FuncListLine(const std::string& id, const char* name);
bool PaperInfoLine(const std::string& id, const char* name, int32_t width, int32_t height,
                   std::string* line);
std::string ImagingAreaLine(const std::string& id, int32_t width, int32_t height);

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

// The inverse, for the listing and the medium query alike: the size in mm
// an imaging area line of |id| (a view into |line|, or found in it) gives,
// its third and fourth numbers with the margins added back. False if the
// line holds no such size: fewer than four numbers, or a size out of range
// (below 1 mm, or beyond 32 bits) however many digits it is written with.
bool SizeFromImagingArea(std::string_view line, std::string_view id, int32_t* width,
                         int32_t* height);
// The identifier's own width and 12-bit height fields: a size for a
// format without an imaging area line.
void SizeFromId(std::string_view id, int32_t* width, int32_t* height);

#endif  // TOOL_FORMAT_ID_H_
