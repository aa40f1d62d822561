#include "transfer/cab_inspect.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "config/text/file_crc.h"
#include "support/name_compare.h"
#include "support/sha256.h"
#include "support/text_format.h"
#include "support/unique_handle.h"

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr uint16_t kFlagPrevious = 0x0001;
constexpr uint16_t kFlagNext = 0x0002;
constexpr uint16_t kFlagReserve = 0x0004;
constexpr uint16_t kNameIsUtf8 = 0x80;
constexpr size_t kMaxName = 256;

uint16_t Get16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Get32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// The file read from its start to its end, once: the parser asks for bytes
// at rising offsets, and every byte passes the checksum exactly once.
class SequentialReader {
public:
    explicit SequentialReader(HANDLE file) : file_(file), chunk_(kChunk) {}

    int64_t Position() const { return offset_ + static_cast<int64_t>(at_); }
    uint32_t Checksum() const { return crc_; }
    std::string Sha256Hex() { return hash_.FinishHex(); }
    DWORD Error() const { return error_; }

    bool Read(void* out, size_t count)
    {
        auto* target = static_cast<unsigned char*>(out);
        while (count > 0) {
            if (at_ == have_ && !Refill()) {
                return false;
            }
            const size_t take = std::min(count, have_ - at_);
            std::copy_n(chunk_.data() + at_, take, target);
            target += take;
            at_ += take;
            count -= take;
        }
        return true;
    }

    // Moves on to `offset`; false when it lies behind the position or past the end.
    bool SkipTo(int64_t offset)
    {
        if (offset < Position()) {
            return false;
        }
        while (Position() < offset) {
            if (at_ == have_ && !Refill()) {
                return false;
            }
            at_ += static_cast<size_t>(std::min<int64_t>(offset - Position(), static_cast<int64_t>(have_ - at_)));
        }
        return true;
    }

    // Reads what is left; false when a read failed.
    bool Finish()
    {
        at_ = have_;
        while (Refill()) {
            at_ = have_;
        }
        return error_ == 0;
    }

private:
    bool Refill()
    {
        offset_ += static_cast<int64_t>(have_);
        at_ = 0;
        have_ = 0;
        DWORD read = 0;
        if (!::ReadFile(file_, chunk_.data(), static_cast<DWORD>(chunk_.size()), &read, nullptr)) {
            error_ = ::GetLastError();
            return false;
        }
        have_ = read;
        crc_ = tarn::UpdateFileCrc(crc_, chunk_.data(), read);
        hash_.Update(chunk_.data(), read);
        return read > 0;
    }

    HANDLE file_;
    std::vector<unsigned char> chunk_;
    size_t at_ = 0;
    size_t have_ = 0;
    int64_t offset_ = 0;
    uint32_t crc_ = 0;
    tarn::Sha256 hash_;
    DWORD error_ = 0;
};

struct Folder {
    uint32_t dataStart = 0;
    uint16_t blocks = 0;
    uint64_t unpacked = 0;
};

bool ReadName(SequentialReader& reader, std::string& name)
{
    name.clear();
    for (char c = 0; name.size() < kMaxName;) {
        if (!reader.Read(&c, 1)) {
            return false;
        }
        if (c == 0) {
            return true;
        }
        name.push_back(c);
    }
    return false;
}

std::wstring Decode(const std::string& name, bool utf8)
{
    const UINT codePage = utf8 ? CP_UTF8 : CP_ACP;
    const int length = ::MultiByteToWideChar(codePage, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    ::MultiByteToWideChar(codePage, 0, name.data(), static_cast<int>(name.size()), wide.data(), length);
    return wide;
}

// Walks header, folder and file records and the data block chain; returns
// the problem, empty when the structure holds.
std::wstring Walk(SequentialReader& reader, int64_t fileSize, std::vector<tarn::CabinetEntry>& entries)
{
    unsigned char header[36];
    if (!reader.Read(header, sizeof(header)) || Get32(header) != 0x4643534D) {
        return L"not a cabinet (no cabinet header)";
    }
    const uint32_t declared = Get32(header + 8);
    if (declared != fileSize) {
        return tarn::FormatText(L"the header names %lu bytes, the file has %lld (truncated or extended)",
                                static_cast<unsigned long>(declared), static_cast<long long>(fileSize));
    }
    const uint16_t flags = Get16(header + 30);
    if ((flags & (kFlagPrevious | kFlagNext)) != 0) {
        return L"the cabinet spans several files";
    }
    size_t folderReserve = 0;
    size_t blockReserve = 0;
    if ((flags & kFlagReserve) != 0) {
        unsigned char sizes[4];
        if (!reader.Read(sizes, 4) || !reader.SkipTo(reader.Position() + Get16(sizes))) {
            return L"the header's reserve area is cut off";
        }
        folderReserve = sizes[2];
        blockReserve = sizes[3];
    }
    std::vector<Folder> folders(Get16(header + 26));
    for (Folder& folder : folders) {
        unsigned char record[8];
        if (!reader.Read(record, 8) || !reader.SkipTo(reader.Position() + static_cast<int64_t>(folderReserve))) {
            return L"the folder records are cut off";
        }
        folder.dataStart = Get32(record);
        folder.blocks = Get16(record + 4);
    }
    if (!reader.SkipTo(Get32(header + 16))) {
        return L"the file records do not follow the folder records";
    }
    const uint16_t fileCount = Get16(header + 28);
    std::vector<std::pair<uint16_t, uint64_t>> ends;  // folder and end offset of every entry
    for (uint16_t i = 0; i < fileCount; ++i) {
        unsigned char record[16];
        std::string name;
        if (!reader.Read(record, 16) || !ReadName(reader, name)) {
            return tarn::FormatText(L"file record %u is cut off or its name is too long", i + 1u);
        }
        const uint16_t folder = Get16(record + 8);
        if (folder >= folders.size()) {
            return tarn::FormatText(L"file record %u names folder %u of %u", i + 1u, folder, unsigned(folders.size()));
        }
        entries.push_back({Decode(name, (Get16(record + 14) & kNameIsUtf8) != 0), Get32(record)});
        ends.emplace_back(folder, static_cast<uint64_t>(Get32(record + 4)) + Get32(record));
    }
    // The data blocks, folder after folder, must reach the file's end and
    // unpack to at least what the entries of each folder take.
    std::vector<size_t> order(folders.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return folders[a].dataStart < folders[b].dataStart; });
    for (size_t index : order) {
        Folder& folder = folders[index];
        if (!reader.SkipTo(folder.dataStart)) {
            return tarn::FormatText(L"the data of folder %u lies outside the file", unsigned(index) + 1u);
        }
        for (uint16_t block = 0; block < folder.blocks; ++block) {
            unsigned char record[8];
            if (!reader.Read(record, 8) ||
                !reader.SkipTo(reader.Position() + static_cast<int64_t>(blockReserve) + Get16(record + 4))) {
                return tarn::FormatText(L"data block %u of folder %u is cut off", block + 1u, unsigned(index) + 1u);
            }
            folder.unpacked += Get16(record + 6);
        }
    }
    for (const auto& [folder, end] : ends) {
        if (end > folders[folder].unpacked) {
            return tarn::FormatText(L"the entries of folder %u need more data than its blocks hold", folder + 1u);
        }
    }
    return std::wstring();
}

tarn::CabinetFacts ReadFacts(const std::wstring& path)
{
    tarn::CabinetFacts facts;
    const tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size)) {
        facts.problem = tarn::FormatText(L"cannot be opened (error %lu)", ::GetLastError());
        return facts;
    }
    SequentialReader reader(file.Get());
    facts.problem = Walk(reader, size.QuadPart, facts.entries);
    if (!reader.Finish() || reader.Position() != size.QuadPart) {
        facts.problem = tarn::FormatText(L"cannot be read to its end (error %lu)", reader.Error());
        return facts;
    }
    facts.size = size.QuadPart;
    facts.checksum = reader.Checksum();
    facts.sha256 = reader.Sha256Hex();
    return facts;
}

// What was read in this process, by path, with the size and last-write time
// it had then.
struct Remembered {
    int64_t size;
    FILETIME written;
    tarn::CabinetFacts facts;
};

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return tarn::CompareNoCase(a, b) < 0; }
};

std::mutex g_lock;
std::map<std::wstring, Remembered, NoCaseLess> g_read;

bool Stamp(const std::wstring& path, int64_t& size, FILETIME& written)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    written = data.ftLastWriteTime;
    return true;
}

}  // namespace

namespace tarn {

CabinetFacts InspectCabinet(const std::wstring& path)
{
    int64_t size = -1;
    FILETIME written{};
    const bool stamped = Stamp(path, size, written);
    if (stamped) {
        std::lock_guard<std::mutex> lock(g_lock);
        const auto found = g_read.find(path);
        if (found != g_read.end() && found->second.size == size &&
            ::CompareFileTime(&found->second.written, &written) == 0) {
            return found->second.facts;
        }
    }
    CabinetFacts facts = ReadFacts(path);
    int64_t after = -1;
    FILETIME writtenAfter{};
    if (stamped && facts.size == size && Stamp(path, after, writtenAfter) && after == size &&
        ::CompareFileTime(&written, &writtenAfter) == 0) {
        std::lock_guard<std::mutex> lock(g_lock);
        g_read[path] = Remembered{size, written, facts};
    }
    return facts;
}

void RememberCabinetFacts(const std::wstring& path, const CabinetFacts& facts)
{
    int64_t size = -1;
    FILETIME written{};
    if (Stamp(path, size, written) && size == facts.size) {
        std::lock_guard<std::mutex> lock(g_lock);
        g_read[path] = Remembered{size, written, facts};
    }
}

}  // namespace tarn
