#include "transfer/download_stream.h"

#include <algorithm>
#include <memory>

#include "support/file_write.h"
#include "transfer/progress_bar.h"

namespace tarn {

namespace {

DownloadTiming g_timing;

bool DeadlinePassed(const DownloadTiming& timing, ULONGLONG since)
{
    return timing.clock.now() - since >= timing.stallDeadline;
}

// How the wait for one chunk ended.
enum class ChunkWait {
    Ready,    // a full chunk is there, or the body has ended
    Stalled,  // nothing came until the deadline
    Lost,     // the connection is gone
};

// The receiving pass: one buffer of two blocks per attempt and the reads that
// fill it. Chunks start at multiples of the chunk size, so a full block
// always holds whole chunks only.
class BlockReceiver {
public:
    BlockReceiver(BodySource& body, const DownloadTiming& timing)
        : body_(body), timing_(timing), buffer_(new char[2 * kDownloadBlockSize]), block_(buffer_.get())
    {
    }

    // Reads until the current chunk is full or the body ends. A short read
    // is not the end; only a read of 0 bytes is.
    ChunkWait WaitForChunk()
    {
        ULONGLONG waitingSince = timing_.clock.now();
        while (filled_ - chunkStart_ < kDownloadChunkSize && !ended_) {
            DWORD read = 0;
            const DWORD wanted = std::min(readSize_, kDownloadBlockSize - filled_);
            const ULONGLONG readStart = timing_.clock.now();
            if (body_.Read(block_ + filled_, wanted, read)) {
                AdaptReadSize(wanted, read, timing_.clock.now() - readStart);
                if (read == 0) {
                    ended_ = true;
                    // A connection that failed and then reports its end has
                    // been dropped; what came is not the whole body.
                    broken_ = lastReadFailed_;
                    break;
                }
                filled_ += std::min(read, kDownloadBlockSize - filled_);
                lastReadFailed_ = false;
                waitingSince = timing_.clock.now();
                continue;
            }
            lastReadFailed_ = true;
            if (body_.ConnectionLost()) {
                return ChunkWait::Lost;
            }
            if (DeadlinePassed(timing_, waitingSince)) {
                return ChunkWait::Stalled;
            }
            timing_.clock.sleep(timing_.readRetrySleep);
            if (DeadlinePassed(timing_, waitingSince)) {
                return ChunkWait::Stalled;
            }
        }
        return ChunkWait::Ready;
    }

    // Takes the chunk that WaitForChunk made ready: a whole chunk, or fewer
    // bytes at the end of the body.
    DWORD TakeChunk()
    {
        const DWORD count = std::min(filled_ - chunkStart_, kDownloadChunkSize);
        chunkStart_ += count;
        return count;
    }

    // Takes whatever the block holds beyond the chunks taken.
    DWORD TakeRest()
    {
        const DWORD count = filled_ - chunkStart_;
        chunkStart_ = filled_;
        return count;
    }

    bool Broken() const { return broken_; }
    bool BlockFull() const { return chunkStart_ == kDownloadBlockSize; }
    const char* Block() const { return block_; }
    DWORD Taken() const { return chunkStart_; }

    // The next block is filled while the sink may still be writing this one.
    void SwitchBlocks()
    {
        block_ = block_ == buffer_.get() ? buffer_.get() + kDownloadBlockSize : buffer_.get();
        filled_ = chunkStart_ = 0;
    }

private:
    // A read returns only when it is full or the body ends, so on a slow
    // line a large read holds the bar still for seconds. Reads start at one
    // chunk, double while they fill quickly and fall back to one chunk when
    // one took long: fast lines get large reads, slow ones a moving bar.
    void AdaptReadSize(DWORD wanted, DWORD read, ULONGLONG took)
    {
        if (took >= kSlowRead) {
            readSize_ = kDownloadChunkSize;
        } else if (read == wanted && took < kFastRead) {
            readSize_ = std::min(readSize_ * 2, kDownloadBlockSize);
        }
    }

    static constexpr ULONGLONG kFastRead = 50;   // ms
    static constexpr ULONGLONG kSlowRead = 250;  // ms

    BodySource& body_;
    const DownloadTiming& timing_;
    DWORD readSize_ = kDownloadChunkSize;
    const std::unique_ptr<char[]> buffer_;
    char* block_;
    DWORD filled_ = 0;      // bytes of the block received
    DWORD chunkStart_ = 0;  // start of the chunk being gathered
    bool ended_ = false;
    bool broken_ = false;
    bool lastReadFailed_ = false;
};

void AskForRetry(int* retryFlag)
{
    if (retryFlag != nullptr) {
        *retryFlag = 1;
    }
}

// How a body that ended with a short chunk came off.
TransferEnd EndOfBody(const BlockReceiver& receiver, BodySink& sink, int64_t contentLength, int64_t bytes,
                      int* retryFlag)
{
    if (receiver.Taken() > 0 && !sink.Write(receiver.Block(), receiver.Taken())) {
        return TransferEnd::WriteFailed;
    }
    if (receiver.Broken() || (contentLength >= 0 && bytes != contentLength)) {
        AskForRetry(retryFlag);
        return TransferEnd::Truncated;
    }
    return TransferEnd::Complete;
}

}  // namespace

const DownloadTiming& GetDownloadTiming()
{
    return g_timing;
}

DownloadTiming SetDownloadTiming(const DownloadTiming& timing)
{
    const DownloadTiming previous = g_timing;
    g_timing = timing;
    return previous;
}

DWORD RetryBackoff::NextWait(bool atOnce)
{
    if (atOnce) {
        next_ = 0;
        return 0;
    }
    const DWORD wait = next_ == 0 ? timing_.backoffFirst : next_;
    next_ = wait >= timing_.backoffLimit / 2 ? timing_.backoffLimit : 2 * wait;
    return std::min(wait, timing_.backoffLimit);
}

void RetryBackoff::AfterFailure(bool atOnce)
{
    const DWORD wait = NextWait(atOnce);
    if (wait > 0) {
        timing_.clock.sleep(wait);
    }
}

BackgroundFileSink::BackgroundFileSink(HANDLE file, const BodyDigest& digest)
    : file_(file), digest_(digest), hashing_(digest.HasSha256()), writer_([this] { WriteBlocks(); })
{
    if (hashing_) {
        try {
            hasher_ = std::thread([this] { HashBlocks(); });
        } catch (...) {
            handover_.Update([this] { stop_ = true; });
            writer_.join();
            throw;
        }
    }
}

BackgroundFileSink::~BackgroundFileSink()
{
    handover_.Update([this] { stop_ = true; });
    writer_.join();
    if (hasher_.joinable()) {
        hasher_.join();
    }
}

bool BackgroundFileSink::Write(const void* data, DWORD size)
{
    return handover_.WhenReady([this] { return pending_ == nullptr; },
                               [&] {
                                   if (failed_) {
                                       return false;
                                   }
                                   pending_ = data;
                                   size_ = size;
                                   written_ = false;
                                   hashed_ = !hashing_;
                                   return true;
                               });
}

bool BackgroundFileSink::Flush()
{
    return handover_.WhenReady([this] { return pending_ == nullptr; }, [this] { return !failed_; });
}

BodyDigest BackgroundFileSink::Digest()
{
    return handover_.Update([this] { return digest_; });
}

DWORD BackgroundFileSink::Error()
{
    return handover_.Update([this] { return error_; });
}

void BackgroundFileSink::ReleaseIfDone()
{
    if (written_ && hashed_) {
        pending_ = nullptr;
    }
}

const void* BackgroundFileSink::NextBlock(const bool& done, DWORD& size)
{
    const void* data = nullptr;
    handover_.WhenReady([&] { return (pending_ != nullptr && !done) || stop_; },
                        [&] {
                            data = done ? nullptr : pending_;
                            size = size_;
                        });
    return data;
}

void BackgroundFileSink::WriteBlocks()
{
    // Without a hasher this thread folds the whole digest.
    const bool alone = !hashing_;
    BodyDigest digest = handover_.Update([this] { return digest_; });
    for (;;) {
        DWORD size = 0;
        const void* data = NextBlock(written_, size);
        if (data == nullptr) {
            return;
        }
        const bool ok = WriteWhole(file_, data, size);
        const DWORD error = ok ? NO_ERROR : ::GetLastError();
        // Folded in while the network fills the next block; the bytes stay
        // the sink's until pending_ is cleared.
        if (ok && alone) {
            digest.Update(data, size);
        } else if (ok) {
            digest.UpdateChecksum(data, size);
        }
        handover_.Update([&] {
            if (!ok && !failed_) {
                error_ = error;
            }
            failed_ = failed_ || !ok;
            digest_ = digest;
            written_ = true;
            ReleaseIfDone();
        });
    }
}

void BackgroundFileSink::HashBlocks()
{
    // This copy shares the SHA-256 state with digest_ and the writer's copy.
    BodyDigest digest = handover_.Update([this] { return digest_; });
    for (;;) {
        DWORD size = 0;
        const void* data = NextBlock(hashed_, size);
        if (data == nullptr) {
            return;
        }
        // A block that fails to be written fails the body: what it adds to
        // the hash then counts for nothing.
        digest.UpdateSha256(data, size);
        handover_.Update([this] {
            hashed_ = true;
            ReleaseIfDone();
        });
    }
}

DownloadProgress::DownloadProgress(int64_t expectedSize) : step_(expectedSize / kProgressDivisor) {}

bool DownloadProgress::Add(DWORD count)
{
    total_ += count;
    if (total_ < next_) {
        return false;
    }
    next_ += step_;
    return true;
}

TransferResult TransferBody(BodySource& body, BodySink& sink, int64_t contentLength, int64_t expectedSize,
                            HWND progressBar, const int* cancelFlag, int* retryFlag,
                            const DownloadTiming& timing, int64_t offset)
{
    TransferResult result;
    DownloadProgressBar bar(progressBar, timing.clock);
    DownloadProgress progress(expectedSize);
    // The kept bytes as the chunks they once came in.
    for (int64_t kept = 0; kept < offset; kept += kDownloadChunkSize) {
        if (progress.Add(static_cast<DWORD>(std::min<int64_t>(kDownloadChunkSize, offset - kept)))) {
            ++result.steps;
            bar.Step();
        }
    }
    BlockReceiver receiver(body, timing);
    int consecutiveStalls = 0;

    for (;;) {
        if (cancelFlag != nullptr && *cancelFlag == 1) {
            result.end = TransferEnd::Cancelled;
            break;
        }
        const ChunkWait wait = receiver.WaitForChunk();
        if (wait == ChunkWait::Lost) {
            // Every byte that came is kept, so that a later attempt can
            // continue right after it.
            result.bytes += receiver.TakeRest();
            AskForRetry(retryFlag);
            result.end = receiver.Taken() > 0 && !sink.Write(receiver.Block(), receiver.Taken())
                             ? TransferEnd::WriteFailed
                             : TransferEnd::Truncated;
            break;
        }
        if (wait == ChunkWait::Stalled) {
            ++result.stalls;
            AskForRetry(retryFlag);
            if (++consecutiveStalls >= timing.maxStalls) {
                result.end = TransferEnd::Stalled;
                break;
            }
            timing.clock.sleep(timing.stallSleep);
            if (retryFlag != nullptr && *retryFlag == 1) {
                result.end = TransferEnd::Stalled;
                break;
            }
            continue;
        }

        consecutiveStalls = 0;
        const DWORD count = receiver.TakeChunk();
        result.bytes += count;
        if (count > 0 && progress.Add(count)) {
            ++result.steps;
            bar.Step();
        }
        if (count < kDownloadChunkSize) {
            result.end = EndOfBody(receiver, sink, contentLength, result.bytes, retryFlag);
            break;
        }
        if (receiver.BlockFull()) {
            // The sink writes this block while the other one is filled.
            if (!sink.Write(receiver.Block(), kDownloadBlockSize)) {
                result.end = TransferEnd::WriteFailed;
                break;
            }
            receiver.SwitchBlocks();
        }
        if (retryFlag != nullptr && *retryFlag == 1) {
            result.end = TransferEnd::RetryFlagged;
            break;
        }
    }
    bar.Flush();
    // No write may outlive the buffer, and a write that failed late spoils
    // a transfer that looked complete.
    if (!sink.Flush() && result.end == TransferEnd::Complete) {
        result.end = TransferEnd::WriteFailed;
    }
    return result;
}

}  // namespace tarn
