#include "support/sha256.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "support/sha256_blocks.h"
#include "support/trace.h"
#include "support/unique_handle.h"

namespace {

constexpr DWORD kFilePiece = 1 << 20;

}  // namespace

namespace tarn {

const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

constexpr uint32_t Rotate(uint32_t value, int bits)
{
    return (value >> bits) | (value << (32 - bits));
}

uint32_t BigEndianWord(const uint8_t* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

// Chosen once per process: the SHA extensions where the processor has them.
Sha256BlockFunction BlockFunction()
{
    static const Sha256BlockFunction chosen =
        Sha256ExtensionsPresent() ? &Sha256BlocksShaExtensions : &Sha256BlocksPortable;
    return chosen;
}

}  // namespace

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t blocks)
{
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            w[i] = BigEndianWord(data + 4 * i);
        }
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) +
                                kSha256RoundConstants[i] + w[i];
            const uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
}

void Sha256::Update(const void* data, size_t size)
{
    if (spent_ || size == 0) {
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    length_ += size;
    if (pendingSize_ > 0) {
        const size_t take = std::min(size, sizeof(pending_) - pendingSize_);
        std::memcpy(pending_ + pendingSize_, bytes, take);
        pendingSize_ += take;
        bytes += take;
        size -= take;
        if (pendingSize_ < sizeof(pending_)) {
            return;
        }
        BlockFunction()(state_, pending_, 1);
        pendingSize_ = 0;
    }
    const size_t whole = size / 64;
    if (whole > 0) {
        BlockFunction()(state_, bytes, whole);
    }
    pendingSize_ = size % 64;
    std::memcpy(pending_, bytes + 64 * whole, pendingSize_);
}

bool Sha256::Finish(Sha256Digest& digest)
{
    if (spent_) {
        return false;
    }
    // The padding: a one bit, zeros up to 56 bytes of the last block, and the
    // length in bits, big-endian.
    const uint64_t bits = length_ * 8;
    uint8_t tail[72] = {0x80};
    const size_t zeros = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
    for (int i = 0; i < 8; ++i) {
        tail[zeros + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    }
    Update(tail, zeros + 8);
    for (size_t i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
        digest[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
        digest[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
        digest[4 * i + 3] = static_cast<uint8_t>(state_[i]);
    }
    spent_ = true;
    return true;
}

std::string Sha256::FinishHex()
{
    Sha256Digest digest{};
    return Finish(digest) ? DigestHex(digest) : std::string();
}

std::string DigestHex(const Sha256Digest& digest)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * digest.size());
    for (const uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

bool IsSha256Text(std::string_view text)
{
    return text.size() == 64 &&
           text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

std::string Sha256Hex(const void* data, size_t size)
{
    Sha256 hash;
    hash.Update(data, size);
    return hash.FinishHex();
}

std::string FileSha256Hex(const wchar_t* path)
{
    const UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return std::string();
    }
    const auto buffer = std::make_unique<char[]>(kFilePiece);
    Sha256 hash;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.Get(), buffer.get(), kFilePiece, &read, nullptr)) {
            Trace(L"SHA-256: reading %ls failed (error %lu)", path, ::GetLastError());
            return std::string();
        }
        if (read == 0) {
            return hash.FinishHex();
        }
        hash.Update(buffer.get(), read);
    }
}

}  // namespace tarn
