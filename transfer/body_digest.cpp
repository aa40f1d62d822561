#include "transfer/body_digest.h"

#include <algorithm>
#include <memory>

#include "config/text/file_crc.h"

namespace tarn {

namespace {

constexpr DWORD kPrefixPiece = 1 << 20;

}  // namespace

BodyDigest::BodyDigest() : sha256_(std::make_shared<Sha256>()) {}

void BodyDigest::Update(const void* data, size_t size) noexcept
{
    crc_ = UpdateFileCrc(crc_, data, size);
    sha256_->Update(data, size);
}

std::string BodyDigest::FinishSha256Hex()
{
    return sha256_->FinishHex();
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
