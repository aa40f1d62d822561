#include "transfer/download_stream.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "config/text/file_crc.h"

namespace tarn {

namespace {

DownloadTiming g_timing;

bool DeadlinePassed(const DownloadTiming& timing, ULONGLONG since)
{
    return timing.now() - since >= timing.stallDeadline;
}

// Holds an SRW lock for its scope.
class SrwLockGuard {
public:
    explicit SrwLockGuard(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~SrwLockGuard() { ::ReleaseSRWLockExclusive(&lock_); }
    SrwLockGuard(const SrwLockGuard&) = delete;
    SrwLockGuard& operator=(const SrwLockGuard&) = delete;

private:
    SRWLOCK& lock_;
};

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

// The hand-over uses the platform's SRW lock and condition variables: those
// of the C++ library (winpthreads under MinGW) call into the wineserver at
// every wait and wake-up under Wine, which cost a tenth of the download's
// speed.
BackgroundFileSink::BackgroundFileSink(HANDLE file) : file_(file), writer_([this] { WriteBlocks(); }) {}

BackgroundFileSink::~BackgroundFileSink()
{
    {
        const SrwLockGuard guard(lock_);
        stop_ = true;
    }
    ::WakeAllConditionVariable(&work_);
    writer_.join();
}

bool BackgroundFileSink::Write(const void* data, DWORD size)
{
    {
        const SrwLockGuard guard(lock_);
        WaitUntilIdle();
        if (failed_) {
            return false;
        }
        pending_ = data;
        size_ = size;
    }
    ::WakeAllConditionVariable(&work_);
    return true;
}

bool BackgroundFileSink::Flush()
{
    const SrwLockGuard guard(lock_);
    WaitUntilIdle();
    return !failed_;
}

uint32_t BackgroundFileSink::Checksum()
{
    const SrwLockGuard guard(lock_);
    return checksum_;
}

// With the lock held: until the writer has taken the last block.
void BackgroundFileSink::WaitUntilIdle()
{
    while (pending_ != nullptr) {
        ::SleepConditionVariableSRW(&idle_, &lock_, INFINITE, 0);
    }
}

void BackgroundFileSink::WriteBlocks()
{
    uint32_t checksum = 0;
    for (;;) {
        const void* data = nullptr;
        DWORD size = 0;
        {
            const SrwLockGuard guard(lock_);
            while (pending_ == nullptr && !stop_) {
                ::SleepConditionVariableSRW(&work_, &lock_, INFINITE, 0);
            }
            if (pending_ == nullptr) {
                return;
            }
            data = pending_;
            size = size_;
        }
        DWORD written = 0;
        const bool ok = ::WriteFile(file_, data, size, &written, nullptr) && written == size;
        // Folded in while the network fills the next block; the bytes stay
        // the sink's until pending_ is cleared below.
        if (ok) {
            checksum = UpdateFileCrc(checksum, data, size);
        }
        {
            const SrwLockGuard guard(lock_);
            failed_ = failed_ || !ok;
            checksum_ = checksum;
            pending_ = nullptr;
        }
        ::WakeAllConditionVariable(&idle_);
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
                            const DownloadTiming& timing)
{
    TransferResult result;
    DownloadProgress progress(expectedSize);
    // One buffer per attempt, two blocks long. Chunks start at multiples of
    // the chunk size, so a full block always holds whole chunks only.
    const std::unique_ptr<char[]> buffer(new char[2 * kDownloadBlockSize]);
    char* block = buffer.get();
    DWORD filled = 0;      // bytes of the block received
    DWORD chunkStart = 0;  // start of the chunk being gathered
    bool ended = false;
    bool broken = false;      // the body ended right after a read error
    bool lastReadFailed = false;
    bool writeFailed = false;
    int consecutiveStalls = 0;

    for (;;) {
        if (cancelFlag != nullptr && *cancelFlag == 1) {
            result.end = TransferEnd::Cancelled;
            break;
        }

        // Wait for one chunk: keep reading until it is full or the body ends.
        // A short read is not the end; only a read of 0 bytes is.
        bool stalled = false;
        ULONGLONG waitingSince = timing.now();
        while (filled - chunkStart < kDownloadChunkSize && !ended) {
            DWORD read = 0;
            if (body.Read(block + filled, kDownloadBlockSize - filled, read)) {
                if (read == 0) {
                    ended = true;
                    // A connection that failed and then reports its end has been
                    // dropped; what came is not the whole body.
                    broken = lastReadFailed;
                    break;
                }
                filled += std::min(read, kDownloadBlockSize - filled);
                lastReadFailed = false;
                waitingSince = timing.now();
                continue;
            }
            lastReadFailed = true;
            if (DeadlinePassed(timing, waitingSince)) {
                stalled = true;
                break;
            }
            timing.sleep(timing.readRetrySleep);
            if (DeadlinePassed(timing, waitingSince)) {
                stalled = true;
                break;
            }
        }

        if (stalled) {
            ++result.stalls;
            if (retryFlag != nullptr) {
                *retryFlag = 1;
            }
            if (++consecutiveStalls >= timing.maxStalls) {
                result.end = TransferEnd::Stalled;
                break;
            }
            timing.sleep(timing.stallSleep);
        } else {
            const DWORD count = std::min(filled - chunkStart, kDownloadChunkSize);
            result.bytes += count;
            if (count > 0 && progress.Add(count)) {
                ++result.steps;
                if (progressBar != nullptr) {
                    ::SendMessageW(progressBar, PBM_STEPIT, 0, 0);
                }
            }
            consecutiveStalls = 0;
            chunkStart += count;
            if (count < kDownloadChunkSize) {
                if (chunkStart > 0 && !sink.Write(block, chunkStart)) {
                    writeFailed = true;
                    result.end = TransferEnd::WriteFailed;
                } else if (broken || (contentLength >= 0 && result.bytes != contentLength)) {
                    result.end = TransferEnd::Truncated;
                    if (retryFlag != nullptr) {
                        *retryFlag = 1;
                    }
                } else {
                    result.end = TransferEnd::Complete;
                }
                break;
            }
            if (chunkStart == kDownloadBlockSize) {
                // The sink writes this block while the other one is filled.
                if (!sink.Write(block, kDownloadBlockSize)) {
                    writeFailed = true;
                    result.end = TransferEnd::WriteFailed;
                    break;
                }
                block = block == buffer.get() ? buffer.get() + kDownloadBlockSize : buffer.get();
                filled = chunkStart = 0;
            }
        }

        if (retryFlag != nullptr && *retryFlag == 1) {
            result.end = stalled ? TransferEnd::Stalled : TransferEnd::RetryFlagged;
            break;
        }
    }
    // No write may outlive the buffer, and a write that failed late spoils
    // a transfer that looked complete.
    if (!sink.Flush() && !writeFailed && result.end == TransferEnd::Complete) {
        result.end = TransferEnd::WriteFailed;
    }
    return result;
}

}  // namespace tarn
