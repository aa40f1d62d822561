#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/name_compare.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/cab_extract_paths.h"
#include "transfer/cab_file_writers.h"
#include "transfer/cab_format.h"
#include "transfer/cab_reader.h"
#include "transfer/cab_targets.h"

namespace tarn {
namespace {

constexpr unsigned kMaxDecodingThreads = 4;

// The cabinet file, read at offsets.
class FileSource : public cab::ByteSource {
public:
    // Paths of 260 characters or more are opened through the long-path prefix.
    bool Open(const std::wstring& path)
    {
        std::wstring openPath = path;
        if (path.size() >= MAX_PATH) {
            const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
            std::wstring full(needed, L'\0');
            const DWORD written = needed ? ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr) : 0;
            full.resize(written < needed ? written : 0);
            openPath = full.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
        }
        file_.Reset(::CreateFileW(openPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER size{};
        if (!file_ || !::GetFileSizeEx(file_.Get(), &size)) {
            Trace(L"Extract: %ls cannot be opened (error %lu)", path.c_str(), ::GetLastError());
            return false;
        }
        size_ = static_cast<uint64_t>(size.QuadPart);
        return true;
    }

    uint64_t Size() const override { return size_; }

    bool ReadAt(uint64_t offset, void* buffer, size_t size) override
    {
        auto* out = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
            DWORD read = 0;
            if (!::ReadFile(file_.Get(), out, chunk, &read, &at) || read == 0) {
                return false;
            }
            out += read;
            offset += read;
            size -= read;
        }
        return true;
    }

private:
    UniqueFileHandle file_;
    uint64_t size_ = 0;
};

// A stored name as text: the packing side writes names in the ANSI code
// page, or in UTF-8 where the entry says so.
std::wstring StoredName(const cab::CabEntry& entry)
{
    const UINT codePage = (entry.attributes & cab::kAttributeNameIsUtf8) ? CP_UTF8 : CP_ACP;
    const int size = static_cast<int>(entry.name.size());
    const int length = ::MultiByteToWideChar(codePage, 0, entry.name.data(), size, nullptr, 0);
    std::wstring name(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(codePage, 0, entry.name.data(), size, name.data(), length);
    }
    return name;
}

}  // namespace

OwnReaderOutcome ExtractWithOwnReader(CabExtractContext& context, CabTargets& targets)
{
    FileSource source;
    if (!source.Open(context.m_CabinetPath)) {
        return OwnReaderOutcome::NotReadable;
    }
    cab::CabDirectory directory;
    std::string problem;
    if (!cab::ReadDirectory(source, directory, problem)) {
        Trace(L"Extract: %ls cannot be read as a cabinet: %ls", context.m_CabinetPath.c_str(),
              std::wstring(problem.begin(), problem.end()).c_str());
        NoteExtractFailure(context, CabExtractFailure::Damaged);
        return OwnReaderOutcome::Failed;
    }
    if (!cab::HasOnlyReadableFolders(directory)) {
        Trace(L"Extract: %ls uses a compression the own reader does not read", context.m_CabinetPath.c_str());
        return OwnReaderOutcome::NotReadable;
    }

    // Every entry is announced first, in the cabinet's order. Of entries
    // with the same target only the last is written (it would win anyway).
    const size_t count = directory.entries.size();
    std::vector<CabWriteTarget> writeTargets(count);
    std::vector<bool> wanted(count, false);
    for (size_t i = 0; i < count; ++i) {
        const cab::CabEntry& entry = directory.entries[i];
        bool wasListed = false;
        CabWriteTarget& target = writeTargets[i];
        if (!targets.Announce(StoredName(entry), target.path, wasListed)) {
            continue;
        }
        if (entry.folder >= cab::kFirstContinuedFolder) {
            Trace(L"Extract: %ls of %ls continues in another cabinet", target.path.c_str(),
                  context.m_CabinetPath.c_str());
            continue;
        }
        target.date = entry.date;
        target.time = entry.time;
        target.attributes = entry.attributes;
        target.size = entry.size;
        wanted[i] = true;
    }
    std::vector<size_t> order;
    for (size_t i = 0; i < count; ++i) {
        if (wanted[i]) {
            order.push_back(i);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return CompareNoCase(writeTargets[a].path, writeTargets[b].path) < 0;
    });
    for (size_t k = 0; k + 1 < order.size(); ++k) {
        if (EqualsNoCase(writeTargets[order[k]].path, writeTargets[order[k + 1]].path)) {
            wanted[order[k]] = false;
        }
    }

    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxDecodingThreads);
    CabFileWriters writers(writeTargets, targets, [&](size_t entry, bool extracted) {
        targets.SetDone(writeTargets[entry].path, extracted);
    });
    const bool complete = cab::UnpackEntries(source, directory, wanted, writers, threads, problem);
    writers.Finish();
    if (writers.DiskFull()) {
        NoteExtractFailure(context, CabExtractFailure::DiskFull);
    }
    if (!complete) {
        Trace(L"Extract: %ls is damaged: %ls", context.m_CabinetPath.c_str(),
              std::wstring(problem.begin(), problem.end()).c_str());
        NoteExtractFailure(context, CabExtractFailure::Damaged);
    }
    return complete && std::find(context.m_Done.begin(), context.m_Done.end(), 0) == context.m_Done.end()
               ? OwnReaderOutcome::Extracted
               : OwnReaderOutcome::Failed;
}

}  // namespace tarn
