#include "transfer/cab_reader.h"

#include <algorithm>
#include <cstring>

#include "transfer/cab_decode.h"
#include "transfer/cab_format.h"

namespace tarn::cab {
namespace {

// Blocks read and decoded together: enough to keep the decoding threads
// busy, about 1 MiB of memory.
constexpr size_t kBlocksPerRun = 16;
// Sequential reads of block data go through a window of this size: one
// platform read per window instead of two per block.
constexpr size_t kReadWindow = 1 << 20;

// Reads forward through the source from a start offset.
class SequentialReader {
public:
    SequentialReader(ByteSource& source, uint64_t start) : source_(source), position_(start) {}

    bool Read(void* buffer, size_t size)
    {
        auto* out = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            if (next_ == window_.size() && !Fill()) {
                return false;
            }
            const size_t take = std::min(size, window_.size() - next_);
            std::memcpy(out, window_.data() + next_, take);
            next_ += take;
            out += take;
            size -= take;
        }
        return true;
    }

private:
    bool Fill()
    {
        const uint64_t size = source_.Size();
        if (position_ >= size) {
            return false;
        }
        window_.resize(static_cast<size_t>(std::min<uint64_t>(kReadWindow, size - position_)));
        if (!source_.ReadAt(position_, window_.data(), window_.size())) {
            return false;
        }
        position_ += window_.size();
        next_ = 0;
        return true;
    }

    ByteSource& source_;
    uint64_t position_;
    std::vector<unsigned char> window_;
    size_t next_ = 0;
};

// Small reads near each other through one window of the source: the
// directory is hundreds of small records, and a platform read apiece costs
// far more than the copy (under Wine, a call into the server's file code).
class WindowedSource : public ByteSource {
public:
    explicit WindowedSource(ByteSource& source) : source_(source) {}

    uint64_t Size() const override { return source_.Size(); }

    bool ReadAt(uint64_t offset, void* buffer, size_t size) override
    {
        if (offset < start_ || offset - start_ > window_.size() || size > window_.size() - (offset - start_)) {
            const uint64_t total = source_.Size();
            if (size > kDirectoryWindow || offset >= total || size > total - offset) {
                return size <= kDirectoryWindow ? false : source_.ReadAt(offset, buffer, size);
            }
            window_.resize(static_cast<size_t>(std::min<uint64_t>(kDirectoryWindow, total - offset)));
            if (!source_.ReadAt(offset, window_.data(), window_.size())) {
                window_.clear();
                return false;
            }
            start_ = offset;
        }
        std::memcpy(buffer, window_.data() + (offset - start_), size);
        return true;
    }

private:
    static constexpr size_t kDirectoryWindow = 64 << 10;

    ByteSource& source_;
    uint64_t start_ = 0;
    std::vector<unsigned char> window_;
};

// A zero-terminated string of at most kMaxNameBytes bytes at `offset`; its
// length with the zero in `used`.
bool ReadString(ByteSource& source, uint64_t offset, std::string& text, size_t& used)
{
    unsigned char buffer[kMaxNameBytes + 1];
    const uint64_t size = source.Size();
    if (offset >= size) {
        return false;
    }
    const size_t available = static_cast<size_t>(std::min<uint64_t>(sizeof(buffer), size - offset));
    if (!source.ReadAt(offset, buffer, available)) {
        return false;
    }
    const auto* end = static_cast<const unsigned char*>(std::memchr(buffer, 0, available));
    if (end == nullptr) {
        return false;
    }
    text.assign(reinterpret_cast<const char*>(buffer), static_cast<size_t>(end - buffer));
    used = text.size() + 1;
    return true;
}

bool Refuse(std::string& problem, const char* why)
{
    problem = why;
    return false;
}

// Reads the next raw block; false with `problem` set when it is not whole
// or its sizes exceed the format's limits (checked before any allocation).
bool ReadBlock(SequentialReader& reader, uint8_t reserve, uint16_t compression, RawBlock& block,
               std::string& problem)
{
    unsigned char header[kDataHeaderSize + 255];
    if (!reader.Read(header, kDataHeaderSize + reserve)) {
        return Refuse(problem, "data block header cut off");
    }
    block.checksum = GetUint32(header);
    block.packedSize = GetUint16(header + 4);
    block.unpackedSize = GetUint16(header + 6);
    if (block.packedSize > kMaxPackedBlock || block.unpackedSize > kBlockSize || block.unpackedSize == 0 ||
        (compression == kCompressNone && block.packedSize != block.unpackedSize)) {
        return Refuse(problem, "data block sizes beyond the format's limits");
    }
    block.data.resize(block.packedSize);
    if (!reader.Read(block.data.data(), block.data.size())) {
        return Refuse(problem, "data block cut off");
    }
    return true;
}

// Hands the wanted entries of one folder their content.
class FolderUnpacker {
public:
    FolderUnpacker(const CabDirectory& directory, EntrySink& sink) : directory_(directory), sink_(sink) {}

    // Takes the folder's wanted entries; those that need no data, or more
    // than the folder's blocks can hold, are settled at once.
    void Plan(std::vector<size_t> entries, uint16_t blockCount)
    {
        const uint64_t capacity = static_cast<uint64_t>(blockCount) * kBlockSize;
        pending_.clear();
        active_.clear();
        nextPending_ = 0;
        position_ = 0;
        end_ = 0;
        std::sort(entries.begin(), entries.end(), [this](size_t a, size_t b) {
            return Entry(a).offset != Entry(b).offset ? Entry(a).offset < Entry(b).offset : a < b;
        });
        for (size_t entry : entries) {
            const uint64_t end = static_cast<uint64_t>(Entry(entry).offset) + Entry(entry).size;
            if (Entry(entry).size == 0) {
                sink_.Piece(entry, nullptr, 0, true, true);
            } else if (end > capacity) {
                Fail(entry, "entry reaches beyond its folder's blocks");
            } else {
                pending_.push_back(entry);
                end_ = std::max(end_, end);
            }
        }
    }

    bool NeedsMore() const { return position_ < end_; }
    uint64_t Position() const { return position_; }
    uint64_t End() const { return end_; }

    // The folder's next decoded block.
    void Deliver(const std::vector<unsigned char>& block)
    {
        const uint64_t blockEnd = position_ + block.size();
        while (nextPending_ < pending_.size() && Entry(pending_[nextPending_]).offset < blockEnd) {
            active_.push_back(pending_[nextPending_++]);
        }
        std::vector<size_t> stillActive;
        for (size_t entry : active_) {
            const uint64_t start = Entry(entry).offset;
            const uint64_t end = start + Entry(entry).size;
            const uint64_t from = std::max(start, position_);
            const uint64_t to = std::min(end, blockEnd);
            if (from < to) {
                sink_.Piece(entry, block.data() + (from - position_), static_cast<size_t>(to - from), from == start,
                            to == end);
            }
            if (to < end) {
                stillActive.push_back(entry);
            }
        }
        active_.swap(stillActive);
        position_ = blockEnd;
    }

    // Every entry not yet complete fails for `why`.
    void FailRest(const std::string& why)
    {
        for (size_t entry : active_) {
            Fail(entry, why);
        }
        for (size_t i = nextPending_; i < pending_.size(); ++i) {
            Fail(pending_[i], why);
        }
        active_.clear();
        nextPending_ = pending_.size();
        end_ = position_;
    }

    const std::string& FirstProblem() const { return problem_; }

private:
    const CabEntry& Entry(size_t index) const { return directory_.entries[index]; }

    void Fail(size_t entry, const std::string& why)
    {
        if (problem_.empty()) {
            problem_ = why;
        }
        sink_.Fail(entry, why);
    }

    const CabDirectory& directory_;
    EntrySink& sink_;
    std::vector<size_t> pending_;  // by offset
    size_t nextPending_ = 0;
    std::vector<size_t> active_;   // started, not complete
    uint64_t position_ = 0;        // unpacked bytes of the folder delivered
    uint64_t end_ = 0;             // where the last wanted entry ends
    std::string problem_;
};

}  // namespace

bool MemorySource::ReadAt(uint64_t offset, void* buffer, size_t size)
{
    if (offset > size_ || size > size_ - offset) {
        return false;
    }
    if (size > 0) {
        std::memcpy(buffer, data_ + offset, size);
    }
    return true;
}

bool ReadDirectory(ByteSource& whole, CabDirectory& directory, std::string& problem)
{
    directory = CabDirectory();
    WindowedSource windowed(whole);
    ByteSource& source = windowed;
    unsigned char header[kHeaderSize + kReserveFieldsSize];
    if (!source.ReadAt(0, header, kHeaderSize) || std::memcmp(header, kSignature, sizeof(kSignature)) != 0) {
        return Refuse(problem, "no cabinet header");
    }
    // Every cabinet maker writes format 1.x; another major version is not this format.
    if (header[25] != 1) {
        return Refuse(problem, "not format version 1");
    }
    const uint32_t filesOffset = GetUint32(header + 16);
    const uint16_t folderCount = GetUint16(header + 26);
    const uint16_t fileCount = GetUint16(header + 28);
    const uint16_t flags = GetUint16(header + 30);
    uint64_t offset = kHeaderSize;
    size_t folderReserve = 0;
    if (flags & kFlagReserve) {
        if (!source.ReadAt(kHeaderSize, header + kHeaderSize, kReserveFieldsSize)) {
            return Refuse(problem, "reserve fields cut off");
        }
        offset += kReserveFieldsSize + GetUint16(header + kHeaderSize);
        folderReserve = header[kHeaderSize + 2];
        directory.blockReserve = header[kHeaderSize + 3];
    }
    // The names of the cabinets before and after this one in a set.
    const int setStrings = ((flags & kFlagPreviousCabinet) ? 2 : 0) + ((flags & kFlagNextCabinet) ? 2 : 0);
    for (int i = 0; i < setStrings; ++i) {
        std::string text;
        size_t used = 0;
        if (!ReadString(source, offset, text, used)) {
            return Refuse(problem, "cabinet set name cut off");
        }
        offset += used;
    }
    if (folderCount == 0 || fileCount == 0) {
        return Refuse(problem, "no folder or no file");
    }
    const size_t folderEntrySize = kFolderEntrySize + folderReserve;
    if (offset + static_cast<uint64_t>(folderCount) * folderEntrySize > source.Size()) {
        return Refuse(problem, "folder records cut off");
    }
    directory.folders.resize(folderCount);
    for (CabFolder& folder : directory.folders) {
        unsigned char record[kFolderEntrySize];
        if (!source.ReadAt(offset, record, sizeof(record))) {
            return Refuse(problem, "folder records cut off");
        }
        folder.dataOffset = GetUint32(record);
        folder.blockCount = GetUint16(record + 4);
        folder.compression = static_cast<uint16_t>(GetUint16(record + 6) & kCompressionMask);
        offset += folderEntrySize;
    }
    // Every file record takes at least its fixed part and one name byte.
    offset = filesOffset;
    if (offset + static_cast<uint64_t>(fileCount) * (kFileEntryFixedSize + 1) > source.Size()) {
        return Refuse(problem, "file records cut off");
    }
    directory.entries.resize(fileCount);
    for (CabEntry& entry : directory.entries) {
        unsigned char record[kFileEntryFixedSize];
        size_t used = 0;
        if (!source.ReadAt(offset, record, sizeof(record)) ||
            !ReadString(source, offset + kFileEntryFixedSize, entry.name, used)) {
            return Refuse(problem, "file record cut off or its name without end");
        }
        entry.size = GetUint32(record);
        entry.offset = GetUint32(record + 4);
        entry.folder = GetUint16(record + 8);
        entry.date = GetUint16(record + 10);
        entry.time = GetUint16(record + 12);
        entry.attributes = GetUint16(record + 14);
        if (entry.folder < kFirstContinuedFolder && entry.folder >= folderCount) {
            return Refuse(problem, "file of a folder that does not exist");
        }
        offset += kFileEntryFixedSize + used;
    }
    return true;
}

bool HasOnlyReadableFolders(const CabDirectory& directory)
{
    return std::all_of(directory.folders.begin(), directory.folders.end(), [](const CabFolder& folder) {
        return folder.compression == kCompressNone || folder.compression == kCompressMszip;
    });
}

bool UnpackEntries(ByteSource& source, const CabDirectory& directory, const std::vector<bool>& wanted,
                   EntrySink& sink, unsigned threads, std::string& problem)
{
    FolderDecoder decoder(threads);
    FolderUnpacker unpacker(directory, sink);
    std::vector<RawBlock> blocks(kBlocksPerRun);
    std::vector<std::vector<unsigned char>> decoded;
    bool complete = true;
    for (size_t index = 0; index < directory.folders.size(); ++index) {
        const CabFolder& folder = directory.folders[index];
        std::vector<size_t> entries;
        for (size_t entry = 0; entry < directory.entries.size() && entry < wanted.size(); ++entry) {
            if (wanted[entry] && directory.entries[entry].folder == index) {
                entries.push_back(entry);
            }
        }
        if (entries.empty()) {
            continue;
        }
        unpacker.Plan(std::move(entries), folder.blockCount);
        if (folder.compression != kCompressNone && folder.compression != kCompressMszip) {
            unpacker.FailRest("compression the reader does not know");
        }
        decoder.StartFolder(folder.compression);
        SequentialReader reader(source, folder.dataOffset);
        size_t blocksRead = 0;
        while (unpacker.NeedsMore()) {
            // Only the blocks that the wanted entries need are read.
            size_t count = 0;
            uint64_t reach = unpacker.Position();
            std::string readProblem;
            while (count < kBlocksPerRun && blocksRead < folder.blockCount && reach < unpacker.End()) {
                if (!ReadBlock(reader, directory.blockReserve, folder.compression, blocks[count], readProblem)) {
                    break;
                }
                reach += blocks[count].unpackedSize;
                ++count;
                ++blocksRead;
            }
            std::string decodeProblem;
            const size_t good = decoder.DecodeRun(blocks, count, decoded, decodeProblem);
            for (size_t i = 0; i < good; ++i) {
                unpacker.Deliver(decoded[i]);
            }
            if (good < count) {
                unpacker.FailRest("block " + std::to_string(blocksRead - count + good) + " of folder " +
                                  std::to_string(index) + ": " + decodeProblem);
            } else if (!readProblem.empty()) {
                unpacker.FailRest("block " + std::to_string(blocksRead) + " of folder " + std::to_string(index) +
                                  ": " + readProblem);
            } else if (count == 0) {
                unpacker.FailRest("folder " + std::to_string(index) + " ends before its entries do");
            }
        }
    }
    if (!unpacker.FirstProblem().empty()) {
        problem = unpacker.FirstProblem();
        complete = false;
    }
    return complete;
}

}  // namespace tarn::cab
