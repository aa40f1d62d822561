#include "tools/makecab/cabinet_writer.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "support/unique_handle.h"
#include "tools/makecab/block_pipeline.h"
#include "tools/makecab/cabinet_format.h"

namespace tarn::makecab {
namespace {

// Blocks in flight per packing thread: enough to keep every thread busy
// while the writer waits for the oldest one.
constexpr size_t kBlocksInFlightPerThread = 8;

constexpr uint16_t kDos1980January1 = (0 << 9) | (1 << 5) | 1;

struct FileEntry {
    const CabinetEntry* entry = nullptr;
    uint32_t size = 0;
    uint32_t offsetInFolder = 0;
    uint16_t folder = 0;
    uint16_t date = kDos1980January1;
    uint16_t time = 0;
    uint16_t attributes = 0;
    std::string name;  // as stored: the ANSI code page, or UTF-8 with its flag
};

struct FolderEntry {
    uint64_t bytes = 0;  // unpacked
    uint32_t start = 0;  // of its first data block in the cabinet
    uint32_t blocks = 0;
    uint64_t written = 0;  // bytes of its data blocks in the cabinet
};

std::wstring ErrorCode(DWORD code)
{
    return L" (error " + std::to_wstring(code) + L")";
}

std::wstring AtLine(const CabinetEntry& entry)
{
    return L"line " + std::to_wstring(entry.line) + L": ";
}

uint32_t BlocksFor(uint64_t bytes)
{
    return static_cast<uint32_t>((bytes + kBlockSize - 1) / kBlockSize);
}

// File times are stored as local DOS date and time, as readers restore them;
// the time zone rules of the file's own date apply, as on the reading side.
void SetDosTime(const FILETIME& written, FileEntry& file)
{
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    FILETIME localTime{};
    if (::FileTimeToSystemTime(&written, &utc) && ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) &&
        ::SystemTimeToFileTime(&local, &localTime) && ::FileTimeToDosDateTime(&localTime, &file.date, &file.time)) {
        return;
    }
    file.date = kDos1980January1;  // before 1980 or after 2107: the format's earliest
    file.time = 0;
}

// The ANSI code page when it holds the name exactly (what every reader
// understands), else UTF-8 with the flag that says so.
bool EncodeName(const std::wstring& name, FileEntry& file)
{
    const int length = static_cast<int>(name.size());
    BOOL lossy = FALSE;
    int bytes = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), length, nullptr, 0, nullptr, &lossy);
    UINT codePage = CP_ACP;
    if (lossy || bytes <= 0) {
        codePage = CP_UTF8;
        file.attributes |= kAttributeNameIsUtf8;
        bytes = ::WideCharToMultiByte(CP_UTF8, 0, name.data(), length, nullptr, 0, nullptr, nullptr);
    }
    if (bytes <= 0 || static_cast<size_t>(bytes) > kMaxNameBytes) {
        return false;
    }
    file.name.assign(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(codePage, codePage == CP_ACP ? WC_NO_BEST_FIT_CHARS : 0, name.data(), length,
                          file.name.data(), bytes, nullptr, nullptr);
    return true;
}

bool DescribeFiles(const CabinetPlan& plan, std::vector<FileEntry>& files, std::wstring& error)
{
    if (plan.entries.size() > kMaxFiles) {
        error = L"a cabinet holds at most " + std::to_wstring(kMaxFiles) + L" files";
        return false;
    }
    for (const CabinetEntry& entry : plan.entries) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(entry.source.c_str(), GetFileExInfoStandard, &data)) {
            error = AtLine(entry) + L"cannot find or read the file " + entry.source + ErrorCode(::GetLastError());
            return false;
        }
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            error = AtLine(entry) + L"this is a folder, not a file: " + entry.source;
            return false;
        }
        const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (BlocksFor(size) > kMaxBlocksPerFolder) {
            error = AtLine(entry) + L"the file is too large for a cabinet: " + entry.source;
            return false;
        }
        FileEntry file;
        file.entry = &entry;
        file.size = static_cast<uint32_t>(size);
        file.attributes = static_cast<uint16_t>(
            data.dwFileAttributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive));
        SetDosTime(data.ftLastWriteTime, file);
        if (!EncodeName(entry.name, file)) {
            error = AtLine(entry) + L"the name is too long for a cabinet: " + entry.name;
            return false;
        }
        files.push_back(std::move(file));
    }
    return true;
}

// Two files of one name (without regard to case) would overwrite each other
// when the cabinet is unpacked.
bool CheckNamesUnique(const CabinetPlan& plan, std::wstring& error)
{
    std::vector<std::pair<std::wstring, const CabinetEntry*>> names;
    names.reserve(plan.entries.size());
    for (const CabinetEntry& entry : plan.entries) {
        std::wstring upper = entry.name;
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, entry.name.data(), static_cast<int>(entry.name.size()),
                        upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
        names.emplace_back(std::move(upper), &entry);
    }
    // Stable: of two equal names, the earlier line comes first.
    std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < names.size(); ++i) {
        if (names[i].first == names[i - 1].first) {
            const CabinetEntry& second = *names[i].second;
            error = AtLine(second) + L"the name " + second.name + L" is already taken by line " +
                    std::to_wstring(names[i - 1].second->line);
            return false;
        }
    }
    return true;
}

// Files go into folders in their order; a new folder starts where the
// current one would need more blocks than its 16-bit count can hold.
std::vector<FolderEntry> AssignFolders(std::vector<FileEntry>& files)
{
    std::vector<FolderEntry> folders(1);
    for (FileEntry& file : files) {
        if (folders.back().bytes > 0 && BlocksFor(folders.back().bytes + file.size) > kMaxBlocksPerFolder) {
            folders.emplace_back();
        }
        file.folder = static_cast<uint16_t>(folders.size() - 1);
        file.offsetInFolder = static_cast<uint32_t>(folders.back().bytes);
        folders.back().bytes += file.size;
    }
    return folders;
}

uint64_t HeaderRegionSize(const std::vector<FileEntry>& files, size_t folderCount)
{
    uint64_t size = kHeaderSize + kFolderEntrySize * folderCount;
    for (const FileEntry& file : files) {
        size += kFileEntryFixedSize + file.name.size() + 1;
    }
    return size;
}

std::vector<unsigned char> BuildHeaderRegion(const std::vector<FileEntry>& files,
                                             const std::vector<FolderEntry>& folders, uint32_t cabinetSize,
                                             bool compress)
{
    std::vector<unsigned char> region(static_cast<size_t>(HeaderRegionSize(files, folders.size())), 0);
    unsigned char* out = region.data();
    out[0] = 'M';
    out[1] = 'S';
    out[2] = 'C';
    out[3] = 'F';
    PutUint32(out + 8, cabinetSize);
    PutUint32(out + 16, static_cast<uint32_t>(kHeaderSize + kFolderEntrySize * folders.size()));
    out[24] = 3;  // format version 1.3
    out[25] = 1;
    PutUint16(out + 26, static_cast<uint16_t>(folders.size()));
    PutUint16(out + 28, static_cast<uint16_t>(files.size()));
    out += kHeaderSize;
    for (const FolderEntry& folder : folders) {
        PutUint32(out, folder.start);
        PutUint16(out + 4, static_cast<uint16_t>(folder.blocks));
        PutUint16(out + 6, compress ? kCompressMszip : kCompressNone);
        out += kFolderEntrySize;
    }
    for (const FileEntry& file : files) {
        PutUint32(out, file.size);
        PutUint32(out + 4, file.offsetInFolder);
        PutUint16(out + 8, file.folder);
        PutUint16(out + 10, file.date);
        PutUint16(out + 12, file.time);
        PutUint16(out + 14, file.attributes);
        std::copy(file.name.begin(), file.name.end(), out + kFileEntryFixedSize);
        out += kFileEntryFixedSize + file.name.size() + 1;
    }
    return region;
}

bool WriteAll(HANDLE file, const unsigned char* data, size_t size)
{
    DWORD written = 0;
    return ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

// The temporary cabinet: removed unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    ~TemporaryFile()
    {
        handle.Reset();
        if (!kept_) {
            ::DeleteFileW(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::wstring& Path() const { return path_; }
    void Keep() { kept_ = true; }

    UniqueFileHandle handle;

private:
    std::wstring path_;
    bool kept_ = false;
};

// Receives the packed blocks in order on the pipeline's writer thread.
class BlockWriter {
public:
    BlockWriter(HANDLE file, std::vector<FolderEntry>& folders, uint64_t offset, uint64_t limit)
        : file_(file), folders_(folders), offset_(offset), limit_(limit)
    {
    }

    bool Write(const DataBlock& block)
    {
        FolderEntry& folder = folders_[block.folder];
        if (offset_ + block.record.size() > limit_) {
            exceeded_ = true;
            return false;
        }
        if (folder.blocks == 0) {
            folder.start = static_cast<uint32_t>(offset_);
        }
        if (!WriteAll(file_, block.record.data(), block.record.size())) {
            writeError_ = ::GetLastError();
            return false;
        }
        ++folder.blocks;
        folder.written += block.record.size();
        offset_ += block.record.size();
        return true;
    }

    uint64_t Offset() const { return offset_; }
    bool Exceeded() const { return exceeded_; }
    DWORD WriteError() const { return writeError_; }

private:
    HANDLE file_;
    std::vector<FolderEntry>& folders_;
    uint64_t offset_;
    uint64_t limit_;
    bool exceeded_ = false;
    DWORD writeError_ = 0;
};

// Reads every file in order into blocks of 32 KiB (a block runs on into the
// next file; a folder's last block is shorter) and submits them.
bool SubmitFileData(const std::vector<FileEntry>& files, size_t folderCount, BlockPipeline& pipeline,
                    std::wstring& error)
{
    auto block = std::make_unique<DataBlock>();
    size_t fileIndex = 0;
    for (uint32_t folder = 0; folder < folderCount; ++folder) {
        block->folder = folder;
        for (; fileIndex < files.size() && files[fileIndex].folder == folder; ++fileIndex) {
            const FileEntry& file = files[fileIndex];
            if (file.size == 0) {
                continue;
            }
            const std::wstring& source = file.entry->source;
            UniqueFileHandle input(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            LARGE_INTEGER size{};
            if (!input || !::GetFileSizeEx(input.Get(), &size)) {
                error = AtLine(*file.entry) + L"cannot open the file " + source + ErrorCode(::GetLastError());
                return false;
            }
            if (static_cast<uint64_t>(size.QuadPart) != file.size) {
                error = AtLine(*file.entry) + L"the file changed while it was packed: " + source;
                return false;
            }
            uint32_t left = file.size;
            while (left > 0) {
                const size_t filled = block->data.size();
                const DWORD chunk = std::min<DWORD>(left, static_cast<DWORD>(kBlockSize - filled));
                block->data.resize(filled + chunk);
                DWORD read = 0;
                if (!::ReadFile(input.Get(), block->data.data() + filled, chunk, &read, nullptr) || read != chunk) {
                    error = AtLine(*file.entry) + L"cannot read the file " + source + ErrorCode(::GetLastError());
                    return false;
                }
                left -= chunk;
                if (block->data.size() == kBlockSize) {
                    if (!pipeline.Submit(std::move(block))) {
                        return true;  // the pipeline stopped; it knows why
                    }
                    block = std::make_unique<DataBlock>();
                    block->data.reserve(kBlockSize);
                    block->folder = folder;
                }
            }
        }
        if (!block->data.empty()) {
            if (!pipeline.Submit(std::move(block))) {
                return true;
            }
            block = std::make_unique<DataBlock>();
            block->data.reserve(kBlockSize);
        }
    }
    return true;
}

std::wstring LimitText(const CabinetPlan& plan)
{
    return plan.maxDiskSize != 0 ? L"MaxDiskSize=" + std::to_wstring(plan.maxDiskSize) + L" bytes"
                                 : L"the format's 4 GiB";
}

}  // namespace

bool WriteCabinet(const CabinetPlan& plan, unsigned threads, PackFigures& figures, std::wstring& error)
{
    std::vector<FileEntry> files;
    if (!DescribeFiles(plan, files, error) || !CheckNamesUnique(plan, error)) {
        return false;
    }
    std::vector<FolderEntry> folders = AssignFolders(files);
    const uint64_t formatLimit = std::numeric_limits<uint32_t>::max();
    const uint64_t limit = plan.maxDiskSize != 0 ? std::min(plan.maxDiskSize, formatLimit) : formatLimit;

    // Stored data has a size known in advance: refuse it before writing.
    uint64_t leastSize = HeaderRegionSize(files, folders.size());
    for (const FolderEntry& folder : folders) {
        leastSize += plan.compress ? 0 : folder.bytes + kDataHeaderSize * BlocksFor(folder.bytes);
    }
    if (leastSize > limit) {
        error = L"the files do not fit into one cabinet of " + LimitText(plan);
        return false;
    }

    TemporaryFile temporary(plan.cabinetPath + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp");
    temporary.handle.Reset(::CreateFileW(temporary.Path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!temporary.handle) {
        error = L"cannot create " + temporary.Path() + ErrorCode(::GetLastError());
        return false;
    }
    const HANDLE out = temporary.handle.Get();
    const std::vector<unsigned char> placeholder = BuildHeaderRegion(files, folders, 0, plan.compress);
    if (!WriteAll(out, placeholder.data(), placeholder.size())) {
        error = L"cannot write " + temporary.Path() + ErrorCode(::GetLastError());
        return false;
    }

    BlockWriter writer(out, folders, placeholder.size(), limit);
    bool completed = false;
    bool packingFailed = false;
    {
        BlockPipeline pipeline(plan.compress, threads, kBlocksInFlightPerThread * std::max(threads, 1u),
                               [&writer](const DataBlock& block) { return writer.Write(block); });
        if (!SubmitFileData(files, folders.size(), pipeline, error)) {
            return false;
        }
        completed = pipeline.Finish();
        packingFailed = pipeline.PackingFailed();
    }
    if (!completed) {
        if (writer.Exceeded()) {
            error = L"the files do not fit into one cabinet of " + LimitText(plan);
        } else if (packingFailed) {
            error = L"the deflate library failed (out of memory?)";
        } else {
            error = L"cannot write " + temporary.Path() + ErrorCode(writer.WriteError());
        }
        return false;
    }

    // Folders without data (only empty files) start where the next data would.
    uint64_t next = placeholder.size();
    for (FolderEntry& folder : folders) {
        if (folder.blocks == 0) {
            folder.start = static_cast<uint32_t>(next);
        }
        next = folder.start + folder.written;
    }
    const std::vector<unsigned char> header =
        BuildHeaderRegion(files, folders, static_cast<uint32_t>(writer.Offset()), plan.compress);
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(out, start, nullptr, FILE_BEGIN) || !WriteAll(out, header.data(), header.size()) ||
        !::FlushFileBuffers(out)) {
        error = L"cannot write " + temporary.Path() + ErrorCode(::GetLastError());
        return false;
    }
    temporary.handle.Reset();
    if (!::MoveFileExW(temporary.Path().c_str(), plan.cabinetPath.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = L"cannot move " + temporary.Path() + L" to " + plan.cabinetPath + ErrorCode(::GetLastError());
        return false;
    }
    temporary.Keep();

    figures.files = static_cast<uint32_t>(files.size());
    figures.folders = static_cast<uint32_t>(folders.size());
    figures.cabinetBytes = writer.Offset();
    for (const FolderEntry& folder : folders) {
        figures.unpackedBytes += folder.bytes;
    }
    return true;
}

}  // namespace tarn::makecab
