#include "config/text/file_crc.h"

#include <windows.h>

#include <array>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "support/path_text.h"
#include "support/handover.h"
#include "support/trace.h"
#include "support/unique_handle.h"

namespace {

// The reflected CRC-32 table (polynomial 0xEDB88320).
constexpr std::array<uint32_t, 256> MakeByteTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        }
        table[i] = value;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kByteTable = MakeByteTable();

// One step of the checksum: a shift by 6 bits, not 8, and no inversion.
constexpr uint32_t Step(uint32_t crc, uint8_t byte) noexcept
{
    return ((crc >> 6) & 0x00FFFFFFu) ^ kByteTable[(crc ^ byte) & 0xFF];
}

constexpr size_t kFold = 16;

// Step is linear over GF(2) in the state and the byte together (the table is
// linear and so is the shift). So the state after 16 bytes is the XOR of what
// each byte of the old state and each of the 16 data bytes contributes on its
// own, and every contribution can be looked up.
struct FoldTables {
    uint32_t state[4][256];    // byte j of the state, carried through 16 steps
    uint32_t data[kFold][256]; // data byte k of a block, carried to the block's end
};

uint32_t CarryZeros(uint32_t crc, size_t steps)
{
    for (size_t i = 0; i < steps; ++i) {
        crc = Step(crc, 0);
    }
    return crc;
}

FoldTables MakeFoldTables()
{
    FoldTables tables{};
    for (uint32_t value = 0; value < 256; ++value) {
        for (unsigned j = 0; j < 4; ++j) {
            tables.state[j][value] = CarryZeros(value << (8 * j), kFold);
        }
        for (size_t k = 0; k < kFold; ++k) {
            tables.data[k][value] = CarryZeros(Step(0, static_cast<uint8_t>(value)), kFold - 1 - k);
        }
    }
    return tables;
}

// What the 16 bytes of a block contribute, written out so that every lookup
// is independent of the others and of the state.
template <size_t... K>
uint32_t FoldBlock(const FoldTables& t, const uint8_t* block, std::index_sequence<K...>) noexcept
{
    return (t.data[K][block[K]] ^ ...);
}

// The old state carried through the 16 steps of a block.
uint32_t CarryState(const FoldTables& t, uint32_t crc) noexcept
{
    return (t.state[0][crc & 0xFF] ^ t.state[1][(crc >> 8) & 0xFF]) ^
           (t.state[2][(crc >> 16) & 0xFF] ^ t.state[3][crc >> 24]);
}

const FoldTables& Tables()
{
    static const FoldTables tables = MakeFoldTables();
    return tables;
}

// Each piece of a file that the checksum reads at once.
constexpr DWORD kPieceSize = 4u << 20;

using tarn::IsEmptyText;

// Reads at an explicit offset; the number of bytes read, 0 on failure.
DWORD ReadPiece(HANDLE file, uint64_t offset, unsigned char* buffer, DWORD count)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!::ReadFile(file, buffer, count, &read, &at)) {
        return 0;
    }
    return read;
}

DWORD PieceLength(uint64_t offset, uint64_t size)
{
    return static_cast<DWORD>(size - offset < kPieceSize ? size - offset : kPieceSize);
}

// A file that fits one piece: no reader thread.
uint32_t ChecksumOnePiece(HANDLE file, uint64_t size)
{
    auto buffer = std::make_unique<unsigned char[]>(static_cast<size_t>(size));
    const DWORD read = ReadPiece(file, 0, buffer.get(), static_cast<DWORD>(size));
    return tarn::UpdateFileCrc(0, buffer.get(), read);
}

// Larger files: a reader thread fills two alternating buffers one piece ahead
// of the folding, so reading and folding overlap on two cores.
class PieceReader {
public:
    PieceReader(HANDLE file, uint64_t size) : file_(file), size_(size)
    {
        for (Slot& slot : slots_) {
            slot.data = std::make_unique<unsigned char[]>(kPieceSize);
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~PieceReader() { thread_.join(); }
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;

    // Folds every piece the reader delivers, up to the end of the file or the
    // first failed or short read.
    uint32_t Checksum()
    {
        uint32_t crc = 0;
        for (size_t k = 0;; ++k) {
            Slot& slot = slots_[k % 2];
            handover_.WhenReady([&] { return slot.filled; }, [] {});
            // The reader leaves a filled slot alone until it is freed below.
            crc = tarn::UpdateFileCrc(crc, slot.data.get(), slot.count);
            const bool last = slot.last;
            handover_.Update([&] { slot.filled = false; });
            if (last) {
                return crc;
            }
        }
    }

private:
    struct Slot {
        std::unique_ptr<unsigned char[]> data;
        DWORD count = 0;
        bool last = false;
        bool filled = false;
    };

    void Run()
    {
        uint64_t offset = 0;
        for (size_t k = 0;; ++k) {
            Slot& slot = slots_[k % 2];
            handover_.WhenReady([&] { return !slot.filled; }, [] {});
            const DWORD wanted = PieceLength(offset, size_);
            const DWORD read = ReadPiece(file_, offset, slot.data.get(), wanted);
            offset += read;
            const bool last = read < wanted || offset >= size_;
            handover_.Update([&] {
                slot.count = read;
                slot.last = last;
                slot.filled = true;
            });
            if (last) {
                return;
            }
        }
    }

    HANDLE file_;
    uint64_t size_;
    Slot slots_[2];
    tarn::HandoverMonitor handover_;
    std::thread thread_;
};

// Without a second thread (none could be started): read, then fold.
uint32_t ChecksumInTurn(HANDLE file, uint64_t size)
{
    auto buffer = std::make_unique<unsigned char[]>(kPieceSize);
    uint32_t crc = 0;
    for (uint64_t offset = 0; offset < size;) {
        const DWORD wanted = PieceLength(offset, size);
        const DWORD read = ReadPiece(file, offset, buffer.get(), wanted);
        crc = tarn::UpdateFileCrc(crc, buffer.get(), read);
        if (read < wanted) {
            break;
        }
        offset += read;
    }
    return crc;
}

}  // namespace

namespace tarn {

uint32_t UpdateFileCrcBytewise(uint32_t crc, const void* data, size_t size) noexcept
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        crc = Step(crc, bytes[i]);
    }
    return crc;
}

uint32_t UpdateFileCrc(uint32_t crc, const void* data, size_t size) noexcept
{
    const FoldTables& t = Tables();
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (size >= kFold) {
        // The data part of a block does not depend on the state, so it is
        // computed one block ahead: only the four state lookups stay on the
        // chain from one block to the next, and the compiler cannot merge the
        // two into one long chain of XORs.
        // The first block's data part is the checksum of its bytes from 0;
        // taking it from the byte-wise form leaves one call of FoldBlock,
        // which the compiler then inlines.
        uint32_t block = UpdateFileCrcBytewise(0, bytes, kFold);
        for (; size >= 2 * kFold; size -= kFold, bytes += kFold) {
            const uint32_t next = FoldBlock(t, bytes + kFold, std::make_index_sequence<kFold>());
            crc = CarryState(t, crc) ^ block;
            block = next;
        }
        crc = CarryState(t, crc) ^ block;
        size -= kFold;
        bytes += kFold;
    }
    return UpdateFileCrcBytewise(crc, bytes, size);
}

}  // namespace tarn

uint32_t GetFileCrc(const wchar_t* fileName)
{
    if (IsEmptyText(fileName)) {
        return 0;
    }
    tarn::UniqueFileHandle file(::CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            tarn::Trace(L"Checksum: %ls cannot be opened (error %lu)", fileName, error);
        }
        return 0;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0) {
        return 0;
    }
    const auto total = static_cast<uint64_t>(size.QuadPart);
    try {
        if (total <= kPieceSize) {
            return ChecksumOnePiece(file.Get(), total);
        }
        std::unique_ptr<PieceReader> reader;
        try {
            reader = std::make_unique<PieceReader>(file.Get(), total);
        } catch (const std::system_error&) {
            return ChecksumInTurn(file.Get(), total);
        }
        return reader->Checksum();
    } catch (const std::bad_alloc&) {
        // Not even one piece's buffer: nothing could be read.
        return 0;
    }
}
