#include "support/sha256.h"

#include <limits>
#include <memory>

#include "support/trace.h"
#include "support/unique_handle.h"

namespace {

constexpr DWORD kFilePiece = 1 << 20;

}  // namespace

namespace tarn {

Sha256::Sha256()
{
    static const BCRYPT_ALG_HANDLE provider = OpenAlgorithmProvider(BCRYPT_SHA256_ALGORITHM);
    valid_ = provider != nullptr &&
             BCRYPT_SUCCESS(GetCryptoApi().BCryptCreateHash(provider, hash_.Put(), nullptr, 0, nullptr, 0, 0));
}

void Sha256::Update(const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (valid_ && size > 0) {
        const ULONG piece = size > std::numeric_limits<ULONG>::max() ? std::numeric_limits<ULONG>::max()
                                                                     : static_cast<ULONG>(size);
        valid_ = BCRYPT_SUCCESS(GetCryptoApi().BCryptHashData(hash_.Get(), const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
}

bool Sha256::Finish(Sha256Digest& digest)
{
    valid_ = valid_ && BCRYPT_SUCCESS(GetCryptoApi().BCryptFinishHash(
                           hash_.Get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
    const bool done = valid_;
    valid_ = false;
    return done;
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
