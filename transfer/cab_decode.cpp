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
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            count_ = count;
            next_ = 0;
            busy_ = threads_.size();
            ++generation_;
        }
        wake_.notify_all();
        Work(0);
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [this] { return busy_ == 0; });
        job_ = nullptr;
    }

private:
    void Work(unsigned thread)
    {
        for (size_t index = next_++; index < count_; index = next_++) {
            (*job_)(thread, index);
        }
    }

    void Serve(unsigned thread)
    {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_) {
                return;
            }
            seen = generation_;
            lock.unlock();
            Work(thread);
            lock.lock();
            if (--busy_ == 0) {
                finished_.notify_one();
            }
        }
    }

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    const std::function<void(unsigned, size_t)>* job_ = nullptr;
    size_t count_ = 0;
    std::atomic<size_t> next_{0};
    size_t busy_ = 0;
    uint64_t generation_ = 0;
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
