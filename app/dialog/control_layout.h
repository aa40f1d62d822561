#pragma once
// The numbers behind the installer dialog's picture and layout: which picture
// resource serves a screen scale and by what factor it is scaled, how the
// dialog grows to the picture, where each control goes, the control-position
// record and the move-by text. Pure functions: no window is needed to check
// them.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// One picture resource to try: the base name plus `suffix`, scaled by `factor`.
struct PictureCandidate {
    std::wstring suffix;
    double factor = 1.0;
};

// The resources tried for a picture at a screen scale, first found wins, so
// that the picture always ends up at design size times the scale. At 1.0 the
// base picture comes before the halved "_200" variant.
std::vector<PictureCandidate> PictureCandidates(double scale);

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

// A bitmap's size after scaling by `factor` (each side truncated); a factor
// of exactly 1.0 or one that is not positive leaves the size as it is.
PixelSize ScaledPictureSize(PixelSize size, double factor);

// Offset of every control, in pixels at 100 %.
struct MoveBy {
    int dx = 0;
    int dy = 0;
    bool operator==(const MoveBy&) const = default;
};

// Reads a move-by text "x,y" (for example "-3,5"): x is the text before the
// first comma, y at most 5 characters of '-' and digits after that comma
// and any spaces, tabs or commas. A text without a comma, with the comma
// first, or with either number empty gives (0, 0).
MoveBy ParseMoveBy(std::wstring_view text);

// Where one control sits at 100 %, in dialog client pixels.
struct ControlPosition {
    int centerX = 0;
    int centerY = 0;
    int width = 0;
    bool operator==(const ControlPosition&) const = default;
};

// The control-position record: the design client size at 100 % and one
// entry per control in child-window order. Stored as little-endian 32-bit
// integers, 8 + 12 * n bytes.
struct ControlPositionRecord {
    int clientWidth = 0;
    int clientHeight = 0;
    std::vector<ControlPosition> controls;
    bool operator==(const ControlPositionRecord&) const = default;
};

// Reads a record for a dialog of `controlCount` controls; empty when the
// length is not 8 + 12 * controlCount (a record made for another set of
// controls would place the wrong windows, or be read past its end).
std::optional<ControlPositionRecord> ParseControlPositionRecord(const void* data, size_t length,
                                                                size_t controlCount);

// The stored form of a record.
std::string SerializeControlPositionRecord(const ControlPositionRecord& record);

// How far the dialog's window grows so that its client area fits the
// design: the record's client size times the scale when there is a record,
// else the picture's size, less the current client size (truncated).
PixelSize DialogGrowth(const ControlPositionRecord* record, PixelSize picture, PixelSize client, double scale);

struct ControlRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ControlRect&) const = default;
};

// A control's place at a scale: width as recorded times the scale, centred
// on the recorded centre moved by the offset and scaled; the height is the
// control's own, as the dialog template made it.
ControlRect PlaceControl(const ControlPosition& position, MoveBy offset, double scale, int height);

// What happens to the development file "<dialog class>.ctrlPos" beside the
// program: it stands in for a missing record resource at other scales and is
// written at 100 % when neither exists.
enum class CtrlPosFileUse { None, Read, Write };
CtrlPosFileUse ChooseCtrlPosFileUse(bool resourcePresent, bool fileExists, double scale);

// The development file's path: the program path with its file name replaced
// by the dialog class name and ".ctrlPos".
std::wstring CtrlPosFilePath(std::wstring_view programPath, std::wstring_view dialogClassName);

}  // namespace tarn
