#include "transfer/body_digest.h"

#include <algorithm>
#include <memory>

#include "config/text/file_crc.h"

namespace tarn {

namespace {

constexpr DWORD kPrefixPiece = 1 << 20;

}  // namespace

BodyDigest::BodyDigest(bool withSha256) : sha256_(withSha256 ? std::make_shared<Sha256>() : nullptr) {}

void BodyDigest::Update(const void* data, size_t size) noexcept
{
    UpdateChecksum(data, size);
    UpdateSha256(data, size);
}

void BodyDigest::UpdateChecksum(const void* data, size_t size) noexcept
{
    crc_ = UpdateFileCrc(crc_, data, size);
}

void BodyDigest::UpdateSha256(const void* data, size_t size) noexcept
{
    if (sha256_) {
        sha256_->Update(data, size);
    }
}

std::string BodyDigest::FinishSha256Hex()
{
    return sha256_ ? sha256_->FinishHex() : std::string();
}

bool BodyDigest::UpdateFromFile(HANDLE file, int64_t size)
{
    const std::unique_ptr<char[]> buffer(new char[kPrefixPiece]);
    for (int64_t at = 0; at < size;) {
        const DWORD want = static_cast<DWORD>(std::min<int64_t>(kPrefixPiece, size - at));
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD read = 0;
        if (!::ReadFile(file, buffer.get(), want, &read, &where) || read != want) {
            return false;
        }
        Update(buffer.get(), read);
        at += read;
    }
    return true;
}

}  // namespace tarn
