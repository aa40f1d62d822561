#include "transfer/download_stream.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "config/text/file_crc.h"
#include "support/sha256.h"
#include "support/unique_handle.h"
#include "transfer/progress_bar.h"

namespace {

using tarn::kDownloadChunkSize;
using tarn::TransferEnd;

// A clock that only moves when the code under test sleeps or a scripted read
// takes time, so the waits run instantly.
ULONGLONG g_now = 0;
int g_sleeps = 0;
ULONGLONG FakeNow()
{
    return g_now;
}
void FakeSleep(DWORD ms)
{
    g_now += ms;
    ++g_sleeps;
}

tarn::DownloadTiming FastTiming()
{
    tarn::DownloadTiming timing;
        timing.clock = tarn::Clock{&FakeNow, &FakeSleep};
    return timing;
}

// One scripted answer of the platform's read call.
struct Step {
    enum Kind { Data, Error, Lost, End } kind;
    DWORD bytes = 0;       // Data: how many bytes this read may deliver at most
    DWORD takesMs = 0;     // the read blocks this long before it returns
};

class ScriptedBody : public tarn::BodySource {
public:
    explicit ScriptedBody(std::deque<Step> steps, std::string payload = std::string())
        : steps_(std::move(steps)), payload_(std::move(payload))
    {
    }

    bool Read(void* buffer, DWORD size, DWORD& read) override
    {
        read = 0;
        ++calls;
        largestRequest = std::max(largestRequest, size);
        if (steps_.empty()) {
            return true;  // the end, for good
        }
        Step& step = steps_.front();
        g_now += step.takesMs;
        if (step.kind == Step::Error || step.kind == Step::Lost) {
            lost_ = step.kind == Step::Lost;
            steps_.pop_front();
            return false;
        }
        if (step.kind == Step::End) {
            steps_.pop_front();
            return true;
        }
        read = std::min(step.bytes, size);
        for (DWORD i = 0; i < read; ++i) {
            static_cast<char*>(buffer)[i] = NextByte();
        }
        step.bytes -= read;
        if (step.bytes == 0) {
            steps_.pop_front();
        }
        if (onRead) {
            onRead();
        }
        return true;
    }

    int calls = 0;
    DWORD largestRequest = 0;
    void (*onRead)() = nullptr;

    bool ConnectionLost() const override { return lost_; }

private:
    bool lost_ = false;
    char NextByte()
    {
        const size_t i = position_++;
        return payload_.empty() ? static_cast<char>(i * 7 + i / 251) : payload_[i % payload_.size()];
    }

    std::deque<Step> steps_;
    std::string payload_;
    size_t position_ = 0;
};

class StringSink : public tarn::BodySink {
public:
    bool Write(const void* data, DWORD size) override
    {
        ++writes;
        if (failAfter >= 0 && static_cast<int64_t>(bytes.size()) + size > failAfter) {
            return false;
        }
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    std::string bytes;
    int writes = 0;
    int64_t failAfter = -1;
};

// Takes a block's bytes only at the next Write or Flush, as a sink that
// writes in the background may: the transfer must leave them alone till then.
class LateSink : public tarn::BodySink {
public:
    bool Write(const void* data, DWORD size) override
    {
        TakePending();
        pending_ = static_cast<const char*>(data);
        size_ = size;
        return !failLate;
    }
    bool Flush() override
    {
        TakePending();
        return !failLate;
    }
    std::string bytes;
    bool failLate = false;

private:
    void TakePending()
    {
        if (pending_ != nullptr) {
            bytes.append(pending_, size_);
            pending_ = nullptr;
        }
    }
    const char* pending_ = nullptr;
    DWORD size_ = 0;
};

std::string ExpectedBytes(size_t count)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    return bytes;
}

// Steps delivering `total` bytes in reads of at most `piece` bytes, then the end.
std::deque<Step> Pieces(DWORD total, DWORD piece)
{
    std::deque<Step> steps;
    for (DWORD sent = 0; sent < total; sent += piece) {
        steps.push_back({Step::Data, std::min(piece, total - sent)});
    }
    steps.push_back({Step::End});
    return steps;
}

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_now = 1000000;
        g_sleeps = 0;
    }

    tarn::TransferResult Run(tarn::BodySource& body, int64_t contentLength = -1,
                             int64_t expectedSize = tarn::kDefaultExpectedSize, const int* cancel = nullptr,
                             int* retry = nullptr)
    {
        return tarn::TransferBody(body, sink, contentLength, expectedSize, nullptr, cancel, retry, timing);
    }

    StringSink sink;
    tarn::DownloadTiming timing = FastTiming();
    int retryFlag = -1;
};

// The progress arithmetic: steps for a body of `size` bytes against an
// expected size, one step per 1/990 of it and at most one per chunk.
struct ProgressCase {
    int64_t expectedSize;
    int64_t bodySize;
    int steps;
};

class ProgressTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressTest, StepsPerChunk)
{
    const ProgressCase& c = GetParam();
    tarn::DownloadProgress progress(c.expectedSize);
    int steps = 0;
    for (int64_t left = c.bodySize; left > 0; left -= kDownloadChunkSize) {
        steps += progress.Add(static_cast<DWORD>(std::min<int64_t>(left, kDownloadChunkSize))) ? 1 : 0;
    }
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(progress.Total(), c.bodySize);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressTest,
    ::testing::Values(ProgressCase{100000000, 100000000, 991},  // one step a threshold, first chunk included
                      ProgressCase{10000000, 10000000, 611},    // a chunk outgrows a step: one a chunk
                      ProgressCase{tarn::kDefaultExpectedSize, 10000000, 189},
                      ProgressCase{tarn::kDefaultExpectedSize, 5000, 1},
                      ProgressCase{tarn::kDefaultExpectedSize, 0, 0},
                      ProgressCase{989, 3 * kDownloadChunkSize, 3},  // a step of 0 bytes: every chunk
                      ProgressCase{100000000, 50000000, 496}));

// The same body gives the same file, steps and end however the platform
// splits it into reads: block reads are cut into chunks as if read one by one.
struct SplitCase {
    DWORD total;
    DWORD piece;
};

class ReadSplitTest : public TransferTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(ReadSplitTest, SameResultForAnyReadSize)
{
    const SplitCase& c = GetParam();
    ScriptedBody body(Pieces(c.total, c.piece));
    const tarn::TransferResult result = Run(body, c.total, 10000000);
    EXPECT_EQ(result.end, TransferEnd::Complete);
    EXPECT_EQ(result.bytes, c.total);
    EXPECT_EQ(sink.bytes, ExpectedBytes(c.total));
    // 10,000,000 expected bytes: a step of 10,101 bytes, so one step a chunk.
    EXPECT_EQ(result.steps, static_cast<int>((c.total + kDownloadChunkSize - 1) / kDownloadChunkSize));
    EXPECT_EQ(result.stalls, 0);
    EXPECT_EQ(g_sleeps, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadSplitTest,
    ::testing::Values(SplitCase{100000, 100000}, SplitCase{100000, 1000}, SplitCase{100000, 1},
                      SplitCase{100000, kDownloadChunkSize}, SplitCase{100000, kDownloadChunkSize + 1},
                      SplitCase{3 * tarn::kDownloadBlockSize + 5, tarn::kDownloadBlockSize},
                      SplitCase{3 * tarn::kDownloadBlockSize + 5, 700000},
                      SplitCase{3 * kDownloadChunkSize, 3 * kDownloadChunkSize},
                      SplitCase{2 * tarn::kDownloadBlockSize, 4 * tarn::kDownloadBlockSize}));

TEST_F(TransferTest, ReadsInBlocksAndWritesWholeBlocks)
{
    ScriptedBody body(Pieces(5 * tarn::kDownloadBlockSize, 8 * tarn::kDownloadBlockSize));
    const tarn::TransferResult result = Run(body);
    EXPECT_EQ(result.end, TransferEnd::Complete);
    EXPECT_EQ(body.largestRequest, tarn::kDownloadBlockSize);
    // Quick reads grow from one chunk: 16+32+64+128+256+16 KiB fill the
    // first block, then four full blocks and the end.
    EXPECT_EQ(body.calls, 11);
    EXPECT_EQ(sink.writes, 5);

    // Reads that take long stay at one chunk, so that the bar moves.
    std::deque<Step> slow;
    for (int i = 0; i < 40; ++i) {
        slow.push_back(Step{Step::Data, kDownloadChunkSize, 300});
    }
    ScriptedBody trickle(slow);
    sink.writes = 0;
    EXPECT_EQ(Run(trickle).end, TransferEnd::Complete);
    EXPECT_EQ(trickle.largestRequest, kDownloadChunkSize);
}

TEST_F(TransferTest, BlockStaysUntouchedUntilTheNextWrite)
{
    LateSink late;
    const DWORD total = 5 * tarn::kDownloadBlockSize + 1234;
    ScriptedBody body(Pieces(total, 300000));
    const tarn::TransferResult result =
        tarn::TransferBody(body, late, total, tarn::kDefaultExpectedSize, nullptr, nullptr, nullptr, timing);
    EXPECT_EQ(result.end, TransferEnd::Complete);
    EXPECT_EQ(late.bytes, ExpectedBytes(total));
}

TEST_F(TransferTest, WriteThatFailsLateSpoilsTheTransfer)
{
    LateSink late;
    late.failLate = true;
    ScriptedBody body(Pieces(5000, 5000));
    EXPECT_EQ(tarn::TransferBody(body, late, 5000, tarn::kDefaultExpectedSize, nullptr, nullptr, nullptr, timing).end,
              TransferEnd::WriteFailed);
}

TEST_F(TransferTest, EmptyBodyAndWholeChunksEndAtOnce)
{
    for (const DWORD total : {DWORD{0}, kDownloadChunkSize, 3 * kDownloadChunkSize, tarn::kDownloadBlockSize}) {
        SCOPED_TRACE(total);
        sink.bytes.clear();
        ScriptedBody body(Pieces(total, kDownloadChunkSize));
        const tarn::TransferResult result = Run(body, total);
        EXPECT_EQ(result.end, TransferEnd::Complete);
        EXPECT_EQ(result.bytes, total);
        EXPECT_EQ(sink.bytes.size(), total);
        EXPECT_EQ(g_sleeps, 0) << "the end of the body is no stall";
    }
}

TEST_F(TransferTest, BodyShortOfContentLengthIsTruncated)
{
    int retry = -1;
    ScriptedBody body(Pieces(40000, 5000));
    const tarn::TransferResult result = Run(body, 50000, tarn::kDefaultExpectedSize, nullptr, &retry);
    EXPECT_EQ(result.end, TransferEnd::Truncated);
    EXPECT_EQ(retry, 1);
}

TEST_F(TransferTest, EndRightAfterReadErrorIsTruncatedEvenWithoutLength)
{
    std::deque<Step> steps = {{Step::Data, 20000}, {Step::Error}, {Step::End}};
    ScriptedBody body(steps);
    EXPECT_EQ(Run(body).end, TransferEnd::Truncated);
}

TEST_F(TransferTest, ReadErrorFollowedByDataIsNoHarm)
{
    std::deque<Step> steps = {{Step::Data, 20000}, {Step::Error}, {Step::Data, 30000}, {Step::End}};
    ScriptedBody body(steps);
    const tarn::TransferResult result = Run(body, 50000);
    EXPECT_EQ(result.end, TransferEnd::Complete);
    EXPECT_EQ(sink.bytes, ExpectedBytes(50000));
    EXPECT_EQ(g_sleeps, 1);  // one 1-second wait after the failed read
}

TEST_F(TransferTest, LostConnectionEndsTheAttemptAtOnce)
{
    // Without a retry flag a failed read on a live connection is waited on;
    // one on a lost connection ends the attempt without a single wait.
    for (int* retry : {static_cast<int*>(nullptr), &retryFlag}) {
        retryFlag = -1;
        g_sleeps = 0;
        std::deque<Step> steps = {{Step::Data, 20000}, {Step::Lost}, {Step::Data, 30000}, {Step::End}};
        ScriptedBody body(steps);
        const tarn::TransferResult result = Run(body, -1, tarn::kDefaultExpectedSize, nullptr, retry);
        EXPECT_EQ(result.end, TransferEnd::Truncated);
        EXPECT_EQ(g_sleeps, 0);
        EXPECT_EQ(body.calls, 3);  // 16 KiB, the rest of the 20000 bytes, the lost read
        EXPECT_EQ(retryFlag, retry != nullptr ? 1 : -1);
        // What came before the loss is kept, whole chunk or not, for a range request to continue.
        EXPECT_EQ(result.bytes, 20000);
        EXPECT_EQ(sink.bytes, ExpectedBytes(20000));
        sink.bytes.clear();
    }
}

TEST_F(TransferTest, StallWithRetryFlagEndsTheAttempt)
{
    int retry = -1;
    // The platform's receive time-out makes a stalled read fail after the deadline.
    std::deque<Step> steps = {{Step::Data, 20000}, {Step::Error, 0, 30000}, {Step::Data, 50000}, {Step::End}};
    ScriptedBody body(steps);
    const tarn::TransferResult result = Run(body, -1, tarn::kDefaultExpectedSize, nullptr, &retry);
    EXPECT_EQ(result.end, TransferEnd::Stalled);
    EXPECT_EQ(result.stalls, 1);
    EXPECT_EQ(retry, 1);
    EXPECT_EQ(result.bytes, kDownloadChunkSize);
}

TEST_F(TransferTest, FailingReadsCountAsStallAtTheDeadline)
{
    int retry = -1;
    std::deque<Step> steps(100, Step{Step::Error});
    ScriptedBody body(steps);
    const ULONGLONG start = g_now;
    const tarn::TransferResult result = Run(body, -1, tarn::kDefaultExpectedSize, nullptr, &retry);
    EXPECT_EQ(result.end, TransferEnd::Stalled);
    EXPECT_EQ(g_now - start, 31000u);  // thirty 1-second waits, the stall, and the wait after it
    EXPECT_EQ(body.calls, 30);
}

TEST_F(TransferTest, StallWithoutRetryFlagWaitsAndGoesOn)
{
    std::deque<Step> steps = {{Step::Data, 20000}, {Step::Error, 0, 30000}, {Step::Error, 0, 30000},
                              {Step::Data, 30000}, {Step::End}};
    ScriptedBody body(steps);
    const tarn::TransferResult result = Run(body, 50000);
    EXPECT_EQ(result.end, TransferEnd::Complete);
    EXPECT_EQ(result.stalls, 2);
    EXPECT_EQ(sink.bytes, ExpectedBytes(50000));
}

TEST_F(TransferTest, TooManyStallsEndTheAttempt)
{
    timing.maxStalls = 3;
    std::deque<Step> steps(10, Step{Step::Error, 0, 30000});
    ScriptedBody body(steps);
    const tarn::TransferResult result = Run(body);
    EXPECT_EQ(result.end, TransferEnd::Stalled);
    EXPECT_EQ(result.stalls, 3);
}

TEST_F(TransferTest, TrickleIsNoStall)
{
    // 100 bytes every 20 seconds: slow, but never 30 seconds without data.
    std::deque<Step> steps;
    for (int i = 0; i < 200; ++i) {
        steps.push_back({Step::Data, 100, 20000});
    }
    steps.push_back({Step::End});
    int retry = -1;
    ScriptedBody body(steps);
    const tarn::TransferResult result = Run(body, 20000, tarn::kDefaultExpectedSize, nullptr, &retry);
    EXPECT_EQ(result.end, TransferEnd::Complete);
    EXPECT_EQ(result.stalls, 0);
    EXPECT_EQ(retry, -1);
}

int* g_cancelFlag = nullptr;
void CancelNow()
{
    *g_cancelFlag = 1;
}

TEST_F(TransferTest, CancelEndsAtTheNextChunk)
{
    int cancel = 0;
    g_cancelFlag = &cancel;
    ScriptedBody body(Pieces(200000, 20000));
    body.onRead = &CancelNow;
    const tarn::TransferResult result = Run(body, 200000, tarn::kDefaultExpectedSize, &cancel);
    EXPECT_EQ(result.end, TransferEnd::Cancelled);
    EXPECT_EQ(result.bytes, kDownloadChunkSize);
}

TEST_F(TransferTest, CancelBeforeTheFirstChunk)
{
    const int cancel = 1;
    ScriptedBody body(Pieces(1000, 1000));
    EXPECT_EQ(Run(body, -1, tarn::kDefaultExpectedSize, &cancel).end, TransferEnd::Cancelled);
    EXPECT_EQ(body.calls, 0);
}

TEST_F(TransferTest, RetryFlagSetEarlierEndsAfterFirstFullChunk)
{
    int retry = 1;
    ScriptedBody longBody(Pieces(100000, 100000));
    EXPECT_EQ(Run(longBody, 100000, tarn::kDefaultExpectedSize, nullptr, &retry).end, TransferEnd::RetryFlagged);

    ScriptedBody shortBody(Pieces(5000, 5000));
    sink.bytes.clear();
    EXPECT_EQ(Run(shortBody, 5000, tarn::kDefaultExpectedSize, nullptr, &retry).end, TransferEnd::Complete);
    EXPECT_EQ(sink.bytes.size(), 5000u);
}

// A body continued after `offset` kept bytes takes the steps an
// uninterrupted transfer of the whole would have taken.
TEST_F(TransferTest, ResumedBodyStepsAsIfUninterrupted)
{
    const DWORD whole = 10000000;
    ScriptedBody full(Pieces(whole, 65536));
    const int fullSteps = Run(full, whole, whole).steps;
    for (const DWORD offset : {kDownloadChunkSize, 40 * kDownloadChunkSize, 500 * kDownloadChunkSize}) {
        SCOPED_TRACE(offset);
        ScriptedBody rest(Pieces(whole - offset, 65536));
        const tarn::TransferResult result =
            tarn::TransferBody(rest, sink, whole - offset, whole, nullptr, nullptr, nullptr, timing, offset);
        EXPECT_EQ(result.end, TransferEnd::Complete);
        EXPECT_EQ(result.bytes, whole - offset);
        EXPECT_EQ(result.steps, fullSteps);
    }
}

// No wait after an attempt that may follow at once; otherwise waits that
// double up to the limit, and start again after one that may follow at once.
TEST(RetryBackoff, DoublesUpToTheLimitAndRestartsAfterProgress)
{
    tarn::DownloadTiming timing;
    timing.backoffFirst = 250;
    timing.backoffLimit = 2000;
    tarn::RetryBackoff backoff(timing);
    const std::vector<std::pair<bool, DWORD>> steps = {{false, 250},  {false, 500}, {false, 1000},
                                                       {false, 2000}, {false, 2000}, {true, 0},
                                                       {false, 250},  {true, 0},    {true, 0}};
    for (const auto& [atOnce, wait] : steps) {
        EXPECT_EQ(backoff.NextWait(atOnce), wait);
    }
    timing.backoffFirst = 300;  // not a power of two below the limit
    tarn::RetryBackoff uneven(timing);
    for (const DWORD wait : {300u, 600u, 1200u, 2000u, 2000u}) {
        EXPECT_EQ(uneven.NextWait(false), wait);
    }
}

TEST_F(TransferTest, SinkFailureEndsTheAttempt)
{
    sink.failAfter = 0;
    ScriptedBody body(Pieces(3 * tarn::kDownloadBlockSize, tarn::kDownloadBlockSize));
    EXPECT_EQ(Run(body).end, TransferEnd::WriteFailed);
    EXPECT_EQ(sink.writes, 1);
}

// The file sink on real files: the blocks land in order, and its checksum is
// the file's (GetFileCrc) however the bytes were cut into blocks; its
// SHA-256 (folded on a thread of its own) is the file's too, or none when
// the digest was made without.
TEST(BackgroundFileSink, DigestIsTheDigestOfTheFileWritten)
{
    const std::string bytes = ExpectedBytes(3 * tarn::kDownloadBlockSize + 12345);
    const std::vector<std::vector<DWORD>> splits = {
        {},
        {1},
        {16},
        {17, 1, 15, 33},
        {tarn::kDownloadBlockSize, tarn::kDownloadBlockSize, tarn::kDownloadBlockSize, 12345},
        {700001, 3, 872860, 12345},
    };
    tarn::test::ScratchFolder scratch;
    for (const bool withSha256 : {true, false})
    for (const std::vector<DWORD>& split : splits) {
        SCOPED_TRACE(testing::PrintToString(split) + (withSha256 ? " with SHA-256" : ""));
        const std::wstring path = scratch / L"sink.bin";
        tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        size_t offset = 0;
        uint32_t checksum = 0;
        std::string sha256;
        {
            tarn::BackgroundFileSink sink(file.Get(), tarn::BodyDigest(withSha256));
            for (const DWORD size : split) {
                ASSERT_LE(offset + size, bytes.size());
                ASSERT_TRUE(sink.Write(bytes.data() + offset, size));
                offset += size;
            }
            ASSERT_TRUE(sink.Flush());
            checksum = sink.Checksum();
            sha256 = sink.Digest().FinishSha256Hex();
        }
        file.Reset();
        EXPECT_EQ(tarn::test::ReadBytes(path), bytes.substr(0, offset));
        EXPECT_EQ(checksum, GetFileCrc(path.c_str()));
        EXPECT_EQ(checksum, tarn::UpdateFileCrcBytewise(0, bytes.data(), offset));
        EXPECT_EQ(sha256, withSha256 ? tarn::Sha256Hex(bytes.data(), offset) : std::string());
    }
}

// A resumed body: the kept prefix is read back from the file into the
// digest, and the sink continues it, so the digest is the whole file's.
TEST(BackgroundFileSink, ContinuedDigestIsTheChecksumOfTheWholeFile)
{
    const std::string bytes = ExpectedBytes(2 * (1 << 20) + 777);
    tarn::test::ScratchFolder scratch;
    const std::wstring path = scratch / L"resumed.bin";
    for (const size_t kept : {size_t{0}, size_t{1}, size_t{kDownloadChunkSize}, size_t{(1 << 20) + 3}, bytes.size()}) {
        SCOPED_TRACE(kept);
        ASSERT_TRUE(tarn::test::WriteBytes(path, bytes.substr(0, kept)));
        tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        tarn::BodyDigest digest;
        ASSERT_TRUE(digest.UpdateFromFile(file.Get(), static_cast<int64_t>(kept)));
        EXPECT_FALSE(tarn::BodyDigest().UpdateFromFile(file.Get(), static_cast<int64_t>(kept) + 1))
            << "fewer bytes on disk than kept";
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(kept);
        ASSERT_TRUE(::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN));
        uint32_t checksum = 0;
        std::string sha256;
        {
            tarn::BackgroundFileSink sink(file.Get(), digest);
            ASSERT_TRUE(sink.Write(bytes.data() + kept, static_cast<DWORD>(bytes.size() - kept)));
            ASSERT_TRUE(sink.Flush());
            checksum = sink.Checksum();
            sha256 = sink.Digest().FinishSha256Hex();
        }
        file.Reset();
        EXPECT_EQ(tarn::test::ReadBytes(path), bytes);
        EXPECT_EQ(checksum, GetFileCrc(path.c_str()));
        EXPECT_EQ(sha256, tarn::Sha256Hex(bytes.data(), bytes.size()));
    }
}

TEST(BackgroundFileSink, RefusedWriteIsReportedAtTheNextCall)
{
    tarn::test::ScratchFolder scratch;
    const std::wstring path = scratch / L"read-only handle.bin";
    ASSERT_TRUE(tarn::test::WriteBytes(path, "x"));
    const tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    const std::string bytes = ExpectedBytes(1000);
    tarn::BackgroundFileSink sink(file.Get());
    EXPECT_TRUE(sink.Write(bytes.data(), 1000));  // taken; the writer fails on its own thread
    EXPECT_FALSE(sink.Flush());
    EXPECT_FALSE(sink.Write(bytes.data(), 1000));
    EXPECT_EQ(sink.Checksum(), 0u) << "bytes not written are not counted";
    EXPECT_EQ(sink.Error(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "the writer thread's error is kept";
}

}  // namespace

namespace {

// A window that stands in for the dialog's progress bar: it counts the moves
// it is sent and where they leave it.
int g_moves = 0;
int g_position = 0;
LRESULT CALLBACK CountingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_DELTAPOS) {
        ++g_moves;
        g_position += static_cast<int>(wParam);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

// Steps reach the bar gathered, one move a repaint interval, and the bar
// ends where single steps would have left it.
TEST(DownloadProgressBar, GathersStepsPerRepaintIntervalAndEndsExact)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingBarProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarnCountingBar";
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowW(L"TarnCountingBar", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    g_now = 1000;
    tarn::Clock clock;
    clock.now = FakeNow;
    {
        tarn::DownloadProgressBar bar(window, clock);
        for (int i = 0; i < 990; ++i) {
            bar.Step();
            g_now += 1;  // a step a millisecond: a move every 30 steps
        }
    }
    EXPECT_EQ(g_position, 990);
    EXPECT_GE(g_moves, 33);
    EXPECT_LE(g_moves, 35);
    ::DestroyWindow(window);
}
