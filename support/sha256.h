#pragma once
// SHA-256 by the platform (BCrypt), fed piece by piece, and its text form:
// 64 lowercase hexadecimal digits.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/crypto_api.h"

namespace tarn {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when the platform could not start a hash (traced once per
    // hasher); Update and Finish then do nothing and Hex() is empty.
    bool Valid() const { return valid_; }
    void Update(const void* data, size_t size);
    // The digest of everything fed; the hasher is spent afterwards.
    bool Finish(Sha256Digest& digest);
    // Finish as text; empty when the hash failed.
    std::string FinishHex();

private:
    UniqueHashHandle hash_;
    bool valid_ = false;
};

// The digest as 64 lowercase hexadecimal digits.
std::string DigestHex(const Sha256Digest& digest);

// True for 64 hexadecimal digits of either case.
bool IsSha256Text(std::string_view text);

// The SHA-256 of `size` bytes; empty when the platform cannot hash.
std::string Sha256Hex(const void* data, size_t size);

}  // namespace tarn

namespace tarn {

// The SHA-256 of a file's bytes, read from its start in large pieces; empty
// when the file cannot be read to its end or the platform cannot hash.
std::string FileSha256Hex(const wchar_t* path);

}  // namespace tarn
