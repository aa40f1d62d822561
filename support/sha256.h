#pragma once
// SHA-256, fed piece by piece, and its text form: 64 lowercase hexadecimal
// digits. Our own rounds rather than the platform's hash: with the
// processor's SHA extensions a body is hashed at several times the pace of a
// fast network, which a platform provider does not promise (under Wine it
// hashes at a fraction of it).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>


namespace tarn {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, size_t size);
    // The digest of everything fed; the hasher is spent afterwards (a second
    // Finish is false).
    bool Finish(Sha256Digest& digest);
    // Finish as text; empty for a spent hasher.
    std::string FinishHex();

private:
    uint32_t state_[8];
    uint8_t pending_[64];
    size_t pendingSize_ = 0;
    uint64_t length_ = 0;  // bytes fed
    bool spent_ = false;
};

// The digest as 64 lowercase hexadecimal digits.
std::string DigestHex(const Sha256Digest& digest);

// True for 64 hexadecimal digits of either case.
bool IsSha256Text(std::string_view text);

// The SHA-256 of `size` bytes.
std::string Sha256Hex(const void* data, size_t size);

}  // namespace tarn

namespace tarn {

// The SHA-256 of a file's bytes, read from its start in large pieces; empty
// when the file cannot be read to its end.
std::string FileSha256Hex(const wchar_t* path);

}  // namespace tarn
