#include "app/dialog/control_layout.h"

#include <cstdint>
#include <cstring>

namespace tarn {

namespace {

constexpr size_t kRecordHeaderBytes = 8;
constexpr size_t kRecordEntryBytes = 12;

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n';
}

std::wstring_view Trim(std::wstring_view text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The leading integer of a text: an optional sign and the digits after it;
// anything else ends the number (a text without digits reads as 0).
int LeadingInteger(std::wstring_view text)
{
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == L'-' || text[at] == L'+')) {
        negative = text[at] == L'-';
        ++at;
    }
    long long value = 0;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
        if (value < 100000000) {  // far beyond any screen; never overflows
            value = value * 10 + (text[at] - L'0');
        }
    }
    return static_cast<int>(negative ? -value : value);
}

int32_t ReadInt32(const unsigned char* bytes)
{
    const uint32_t value = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    int32_t result = 0;
    std::memcpy(&result, &value, sizeof(result));
    return result;
}

void AppendInt32(std::string& out, int32_t value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    }
}

int Truncate(double value)
{
    return static_cast<int>(value);  // toward zero, as the record's rules say
}

}  // namespace

std::vector<PictureCandidate> PictureCandidates(double scale)
{
    if (scale == 1.0) {
        return {{L"_100", 1.0}, {L"", 1.0}, {L"_200", 0.5}};
    }
    if (scale == 1.25) {
        return {{L"_125", 1.0}, {L"_200", 0.625}, {L"", 1.25}};
    }
    if (scale == 1.5) {
        return {{L"_150", 1.0}, {L"_200", 0.75}, {L"", 1.5}};
    }
    if (scale == 2.0) {
        return {{L"_200", 1.0}, {L"", 2.0}};
    }
    return {{L"_200", scale / 2.0}, {L"", scale}};
}

PixelSize ScaledPictureSize(PixelSize size, double factor)
{
    if (factor == 1.0 || factor <= 0.0) {
        return size;
    }
    return {Truncate(size.width * factor), Truncate(size.height * factor)};
}

MoveBy ParseMoveBy(std::wstring_view text)
{
    const size_t comma = text.find(L',');
    if (comma == std::wstring_view::npos || comma == 0) {
        return {};
    }
    const std::wstring_view xText = Trim(text.substr(0, comma));
    size_t at = comma + 1;
    while (at < text.size() && (text[at] == L' ' || text[at] == L'\t' || text[at] == L',')) {
        ++at;
    }
    size_t end = at;
    while (end < text.size() && end - at < 5 && (text[end] == L'-' || (text[end] >= L'0' && text[end] <= L'9'))) {
        ++end;
    }
    const std::wstring_view yText = Trim(text.substr(at, end - at));
    if (xText.empty() || yText.empty()) {
        return {};
    }
    return {LeadingInteger(xText), LeadingInteger(yText)};
}

std::optional<ControlPositionRecord> ParseControlPositionRecord(const void* data, size_t length,
                                                                size_t controlCount)
{
    if (data == nullptr || length != kRecordHeaderBytes + kRecordEntryBytes * controlCount) {
        return std::nullopt;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    ControlPositionRecord record;
    record.clientWidth = ReadInt32(bytes);
    record.clientHeight = ReadInt32(bytes + 4);
    for (size_t i = 0; i < controlCount; ++i) {
        const unsigned char* entry = bytes + kRecordHeaderBytes + kRecordEntryBytes * i;
        record.controls.push_back({ReadInt32(entry), ReadInt32(entry + 4), ReadInt32(entry + 8)});
    }
    return record;
}

std::string SerializeControlPositionRecord(const ControlPositionRecord& record)
{
    std::string bytes;
    AppendInt32(bytes, record.clientWidth);
    AppendInt32(bytes, record.clientHeight);
    for (const ControlPosition& control : record.controls) {
        AppendInt32(bytes, control.centerX);
        AppendInt32(bytes, control.centerY);
        AppendInt32(bytes, control.width);
    }
    return bytes;
}

PixelSize DialogGrowth(const ControlPositionRecord* record, PixelSize picture, PixelSize client, double scale)
{
    if (record == nullptr) {
        return {picture.width - client.width, picture.height - client.height};
    }
    return {Truncate(record->clientWidth * scale - client.width),
            Truncate(record->clientHeight * scale - client.height)};
}

ControlRect PlaceControl(const ControlPosition& position, MoveBy offset, double scale, int height)
{
    const int width = Truncate(scale * position.width);
    const double centerY = (position.centerY + offset.dy) * scale;
    const int left = Truncate((position.centerX + offset.dx) * scale - width / 2.0);
    const int top = Truncate(centerY - height / 2.0);
    return {left, top, width, height};
}

CtrlPosFileUse ChooseCtrlPosFileUse(bool resourcePresent, bool fileExists, double scale)
{
    if (resourcePresent) {
        return CtrlPosFileUse::None;
    }
    if (fileExists) {
        return scale != 1.0 ? CtrlPosFileUse::Read : CtrlPosFileUse::None;
    }
    return scale == 1.0 ? CtrlPosFileUse::Write : CtrlPosFileUse::None;
}

std::wstring CtrlPosFilePath(std::wstring_view programPath, std::wstring_view dialogClassName)
{
    const size_t slash = programPath.rfind(L'\\');
    const std::wstring_view folder = slash == std::wstring_view::npos ? std::wstring_view() : programPath.substr(0, slash + 1);
    return std::wstring(folder) + std::wstring(dialogClassName) + L".ctrlPos";
}

}  // namespace tarn
