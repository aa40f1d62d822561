#pragma once
// The body of one download streamed into a file. The observable unit is the
// 16,384-byte chunk: progress steps, cancel looks, stall accounting and the
// end of the body work on chunks. The platform is read in pieces of up to a
// block of 512 KiB, because each read call has a fixed cost far above the
// cost of its bytes; a read starts at one chunk and grows while reads fill
// quickly (a read returns only when full, so large reads on a slow line would
// hold the progress bar still). Each block is cut into chunks exactly as if
// they had been read one by one.
// One buffer of two blocks serves an attempt: while one block is written to
// disk, the next one is read from the network.

#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>

#include "support/clock.h"
#include "support/handover.h"
#include "transfer/body_digest.h"

namespace tarn {

constexpr DWORD kDownloadChunkSize = 16384;
constexpr DWORD kDownloadBlockSize = 32 * kDownloadChunkSize;
// Expected size for the progress bar when no file-info record gives one.
constexpr int64_t kDefaultExpectedSize = 52428800;
// Progress bar range and the share of the expected size one step stands for.
constexpr int kProgressRange = 1000;
constexpr int64_t kProgressDivisor = 990;

// The waits of the download road. Production values by default; tests shrink
// them and may replace the clock.
struct DownloadTiming {
    DWORD stallDeadline = 30000;  // ms without data before the wait counts as a stall
    DWORD readRetrySleep = 1000;  // between reads that delivered nothing
    DWORD stallSleep = 1000;      // after a stall that does not end the attempt
    int maxStalls = 3600;         // consecutive stalls that end the attempt
    DWORD passPause = 2000;       // between passes of HttpGetFileRetrying
    DWORD cancelLook = 100;       // cancel-flag looks during that pause
    DWORD backoffFirst = 250;     // after the first attempt that failed without progress
    DWORD backoffLimit = 2000;    // the longest wait between two attempts
    Clock clock;
};

// The timing the download functions use; SetDownloadTiming is the tests' seam
// (there is no other way to change it) and returns the previous timing.
const DownloadTiming& GetDownloadTiming();
DownloadTiming SetDownloadTiming(const DownloadTiming& timing);

// The waits between the attempts of a series: none after an attempt that
// may be followed at once (it moved the body on, or no server answered it),
// else a wait that doubles with each such failure in a row from
// backoffFirst up to backoffLimit, so that a server that fails every request
// at once is not asked again at once.
class RetryBackoff {
public:
    explicit RetryBackoff(const DownloadTiming& timing) : timing_(timing) {}
    // The wait after an attempt that failed.
    DWORD NextWait(bool atOnce);
    // Sleeps NextWait(atOnce) on the timing's clock.
    void AfterFailure(bool atOnce);

private:
    const DownloadTiming& timing_;
    DWORD next_ = 0;
};

// Progress arithmetic: one step per 1/990 of the expected size, at most one
// step per chunk. The first chunk always takes a step.
class DownloadProgress {
public:
    explicit DownloadProgress(int64_t expectedSize);

    // Counts a chunk's bytes; true when the bar steps for this chunk.
    bool Add(DWORD count);
    int64_t Total() const { return total_; }

private:
    int64_t step_;
    int64_t next_ = 0;
    int64_t total_ = 0;
};

// A response body as the platform delivers it.
class BodySource {
public:
    virtual ~BodySource() = default;
    // Reads up to `size` bytes into `buffer`. False on a read error; true with
    // `read` 0 when the body has ended.
    virtual bool Read(void* buffer, DWORD size, DWORD& read) = 0;
    // After a failed read: true when the connection is gone (reset, closed in
    // the middle of the body), so that waiting for more data is pointless.
    virtual bool ConnectionLost() const { return false; }
};

// Where the chunks go; the production sink is a file. A sink may go on
// using the data of a Write until its next Write or Flush returns; a failure
// may therefore be reported one call late.
class BodySink {
public:
    virtual ~BodySink() = default;
    virtual bool Write(const void* data, DWORD size) = 0;
    // Waits until every write has ended; false when one failed.
    virtual bool Flush() { return true; }
};

// The production sink: writes each block into a file on a thread of its
// own, so that the disk takes one block while the network fills the next,
// and keeps the body's digest (checksum and SHA-256) of the bytes it wrote,
// continuing `digest` (the digest of what the file held before, for a
// resumed body). The SHA-256, far slower than the disk and the checksum,
// is folded on a second thread over the same block, so that a block costs
// the slower of the two instead of their sum. The constructor starts the
// threads (std::system_error when it cannot).
class BackgroundFileSink : public BodySink {
public:
    explicit BackgroundFileSink(HANDLE file, const BodyDigest& digest = BodyDigest());
    ~BackgroundFileSink() override;
    BackgroundFileSink(const BackgroundFileSink&) = delete;
    BackgroundFileSink& operator=(const BackgroundFileSink&) = delete;

    bool Write(const void* data, DWORD size) override;
    bool Flush() override;
    // The digest of the bytes written so far, in the order written, after
    // those of the constructor's digest: for a file that holds just them,
    // Checksum() is what GetFileCrc gives. Complete after Flush.
    BodyDigest Digest();
    uint32_t Checksum() { return Digest().Crc(); }
    // The system error of the first write that failed (on the writer's
    // thread, whose last error the caller never sees); 0 while none did.
    DWORD Error();

private:
    void WriteBlocks();
    void HashBlocks();
    // Waits for a block that the calling thread (whose flag is `done`) has
    // not handled yet; null once the sink stops.
    const void* NextBlock(const bool& done, DWORD& size);
    // With the lock held: the block is done with once written and hashed.
    void ReleaseIfDone();

    HANDLE file_;
    HandoverMonitor handover_;
    const void* pending_ = nullptr;
    DWORD size_ = 0;
    bool written_ = false;
    bool hashed_ = false;
    BodyDigest digest_;
    bool failed_ = false;
    DWORD error_ = NO_ERROR;
    bool stop_ = false;
    const bool hashing_;  // a second thread folds the SHA-256
    // Last: they start once everything they use exists.
    std::thread writer_;
    std::thread hasher_;  // only for a digest with SHA-256
};

enum class TransferEnd {
    Complete,     // the whole body was stored
    Cancelled,    // the cancel flag was 1 at the start of a chunk
    Stalled,      // a stall ended the attempt (retry flag 1, or too many stalls)
    RetryFlagged, // the retry flag was 1 after a full chunk
    Truncated,    // the body ended short of its Content-Length, or the connection was lost
    WriteFailed,  // the sink refused data
};

struct TransferResult {
    TransferEnd end = TransferEnd::Complete;
    int64_t bytes = 0;  // body bytes received
    int steps = 0;      // progress steps taken, those for kept bytes included
    int stalls = 0;     // stalls seen in all
};

// Streams `body` into `sink` chunk by chunk and flushes the sink before it
// returns. `contentLength` (the length of this answer's body) is -1 when the
// server sent none. `offset` bytes of the file were kept from an earlier
// attempt: the progress bar starts where an uninterrupted transfer would
// stand after them. The progress bar, cancel and retry flags may be null; a
// stall, a truncated body and a lost connection set the retry flag to 1.
TransferResult TransferBody(BodySource& body, BodySink& sink, int64_t contentLength, int64_t expectedSize,
                            HWND progressBar, const int* cancelFlag, int* retryFlag,
                            const DownloadTiming& timing, int64_t offset = 0);

}  // namespace tarn
