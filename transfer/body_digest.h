#pragma once
// The running digest of a download body: every checksum the road verifies a
// body against is folded in here, chunk by chunk while the body is written,
// so that no file is read twice to check it.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "support/sha256.h"

namespace tarn {

// Copies share one SHA-256 state: a digest is handed on along the road, never
// forked.
class BodyDigest {
public:
    // `withSha256`: the body is also hashed with SHA-256, which costs more
    // than the checksum (without the processor's SHA extensions far more), so
    // only bodies whose record or manifest states one are.
    explicit BodyDigest(bool withSha256 = true);

    // Folds in the next `size` bytes of the body.
    void Update(const void* data, size_t size) noexcept;
    // The two halves of Update, for threads that share the work: one folds
    // the checksum, the other (on a copy, which shares the SHA-256 state) the
    // SHA-256, each over the same bytes in the same order.
    void UpdateChecksum(const void* data, size_t size) noexcept;
    void UpdateSha256(const void* data, size_t size) noexcept;
    bool HasSha256() const noexcept { return sha256_ != nullptr; }

    // Folds in the first `size` bytes of `file`, read at explicit offsets
    // from its start (the file pointer is left undefined): the part of a
    // body that an earlier attempt kept on disk. False (with nothing certain
    // about the digest) when they cannot all be read.
    bool UpdateFromFile(HANDLE file, int64_t size);

    // The file checksum (GetFileCrc's) of the bytes folded in so far.
    uint32_t Crc() const noexcept { return crc_; }

    // The SHA-256 of the bytes folded in, as 64 lowercase hexadecimal digits;
    // empty when the digest was made without. Spends the SHA-256 state: call
    // once, at the end of the body.
    std::string FinishSha256Hex();

private:
    uint32_t crc_ = 0;
    std::shared_ptr<Sha256> sha256_;
};

}  // namespace tarn
