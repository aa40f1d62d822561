#include "transfer/cab_decode.h"

#include <zlib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "transfer/cab_format.h"

namespace tarn::cab {

// One raw-inflate state, reset for every block: setting one up costs more
// than unpacking a small block.
struct FolderDecoder::Inflater {
    z_stream stream{};
    bool ready = false;

    Inflater() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater()
    {
        if (ready) {
            inflateEnd(&stream);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
};

// Helper threads that run one indexed job together with the calling thread.
// Items are claimed through one atomic word (the run's number and the next
// index), so that the threads meet on a lock only to wake and to finish:
// under Wine a contended lock costs a round trip to the server. The caller
// waits only for items a helper has claimed; on a busy machine a helper
// scheduled late finds the run done and claims nothing.
class FolderDecoder::Pool {
public:
    explicit Pool(unsigned helpers)
    {
        for (unsigned i = 0; i < helpers; ++i) {
            threads_.emplace_back([this, i] { Serve(i + 1); });
        }
    }
    ~Pool()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_) {
            thread.join();
        }
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // Calls job(thread, index) for every index below `count`; thread 0 is the caller.
    void Run(size_t count, const std::function<void(unsigned, size_t)>& job)
    {
        uint64_t run = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            count_ = count;
            done_ = 0;
            run = ++run_;
            next_.store(run << 32);
        }
        wake_.notify_all();
        const size_t mine = Work(0, run);
        std::unique_lock<std::mutex> lock(mutex_);
        done_ += mine;
        finished_.wait(lock, [this] { return done_ == count_.load(); });
        next_.store((run + 1) << 32);  // nothing of this run is left to claim
        job_ = nullptr;
    }

private:
    // Claims and runs items of run `run` until none is left; returns how many.
    size_t Work(unsigned thread, uint64_t run)
    {
        size_t worked = 0;
        while (true) {
            uint64_t current = next_.load();
            if ((current >> 32) != run || (current & 0xFFFFFFFFu) >= count_) {
                return worked;
            }
            if (next_.compare_exchange_weak(current, current + 1)) {
                (*job_)(thread, static_cast<size_t>(current & 0xFFFFFFFFu));
                ++worked;
            }
        }
    }

    void Serve(unsigned thread)
    {
        uint64_t seen = 0;
        while (true) {
            uint64_t run = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || run_ != seen; });
                if (stop_) {
                    return;
                }
                seen = run = run_;
            }
            const size_t worked = Work(thread, run);
            if (worked > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                done_ += worked;
                if (done_ == count_.load()) {
                    finished_.notify_one();
                }
            }
        }
    }

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    // Set before a run's items can be claimed and kept until all are done.
    const std::function<void(unsigned, size_t)>* job_ = nullptr;
    std::atomic<size_t> count_{0};
    size_t done_ = 0;
    uint64_t run_ = 0;
    std::atomic<uint64_t> next_{0};  // the run's number above its next index
    bool stop_ = false;
};

FolderDecoder::FolderDecoder(unsigned threads)
{
    const unsigned total = threads == 0 ? 1 : threads;
    for (unsigned i = 0; i < total; ++i) {
        inflaters_.push_back(std::make_unique<Inflater>());
    }
}

FolderDecoder::~FolderDecoder() = default;

void FolderDecoder::StartFolder(uint16_t compression)
{
    compression_ = compression;
    standAlone_ = true;
    history_.clear();
}

bool FolderDecoder::DecodeOne(Inflater& inflater, const RawBlock& block, const std::vector<unsigned char>* history,
                              std::vector<unsigned char>& out, std::string& problem) const
{
    if (block.checksum != 0) {
        unsigned char sizes[4];
        PutUint16(sizes, block.packedSize);
        PutUint16(sizes + 2, block.unpackedSize);
        if (Checksum(sizes, 4, Checksum(block.data.data(), block.data.size(), 0)) != block.checksum) {
            problem = "checksum mismatch";
            return false;
        }
    }
    out.resize(block.unpackedSize);
    if (compression_ == kCompressNone) {
        if (block.packedSize != block.unpackedSize) {
            problem = "stored block of unequal sizes";
            return false;
        }
        std::copy(block.data.begin(), block.data.end(), out.begin());
        return true;
    }
    if (block.data.size() < 2 || block.data[0] != 'C' || block.data[1] != 'K') {
        problem = "MSZIP block without its mark";
        return false;
    }
    z_stream& stream = inflater.stream;
    if (!inflater.ready || inflateReset(&stream) != Z_OK) {
        problem = "no inflate state";
        return false;
    }
    if (history != nullptr && !history->empty() &&
        inflateSetDictionary(&stream, history->data(), static_cast<uInt>(history->size())) != Z_OK) {
        problem = "dictionary refused";
        return false;
    }
    // zlib's types are not const-correct; it does not write the input.
    stream.next_in = const_cast<Bytef*>(block.data.data() + 2);
    stream.avail_in = static_cast<uInt>(block.data.size() - 2);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    if (result != Z_STREAM_END || stream.avail_out != 0) {
        problem = result == Z_STREAM_END ? "MSZIP block shorter than stated"
                  : result == Z_DATA_ERROR ? "MSZIP data damaged"
                                           : "MSZIP block longer than stated or cut off";
        return false;
    }
    return true;
}

size_t FolderDecoder::DecodeRun(const std::vector<RawBlock>& blocks, size_t count,
                                std::vector<std::vector<unsigned char>>& out, std::string& problem)
{
    if (out.size() < count) {
        out.resize(count);
    }
    // A block that decodes without a dictionary refers to nothing before it
    // (the inflater refuses distances beyond what it has written), so its
    // output is the same as with the dictionary: such blocks are decoded in
    // parallel, and only those that fail are decoded again, in order, with
    // the block before them as the dictionary.
    std::vector<char> tried(count, 0);
    const bool parallel = standAlone_ && inflaters_.size() > 1 && count > 1;
    if (parallel) {
        if (!pool_) {
            pool_ = std::make_unique<Pool>(static_cast<unsigned>(inflaters_.size() - 1));
        }
        std::vector<std::string> problems(count);
        pool_->Run(count, [&](unsigned thread, size_t index) {
            tried[index] = DecodeOne(*inflaters_[thread], blocks[index], nullptr, out[index], problems[index]) ? 1 : 0;
        });
    }
    for (size_t index = 0; index < count; ++index) {
        if (tried[index]) {
            continue;
        }
        const std::vector<unsigned char>& before = index > 0 ? out[index - 1] : history_;
        if (!DecodeOne(*inflaters_[0], blocks[index], &before, out[index], problem)) {
            return index;
        }
        if (parallel && !before.empty()) {
            standAlone_ = false;  // the folder's blocks build on each other: decode the rest in order
        }
    }
    if (count > 0) {
        history_ = out[count - 1];
    }
    return count;
}

}  // namespace tarn::cab
