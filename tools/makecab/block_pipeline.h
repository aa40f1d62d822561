#pragma once
// Packs data blocks on several threads and hands them, in the order they
// were submitted, to one writer thread. At most `capacity` blocks are in
// flight at once, so memory stays the same however much is packed.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tarn::makecab {

struct DataBlock {
    uint32_t folder = 0;
    std::vector<unsigned char> data;    // unpacked bytes
    std::vector<unsigned char> record;  // header and packed bytes, filled by a packing thread
};

class BlockPipeline {
public:
    // `write` runs on the writer thread for each packed block in order; it
    // returns false to stop the pipeline (the reason is its own to keep).
    using WriteBlock = std::function<bool(const DataBlock&)>;

    BlockPipeline(bool compress, unsigned threads, size_t capacity, WriteBlock write);
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // Queues a block, waiting while `capacity` blocks are in flight. False
    // once the pipeline has stopped: nothing more will be written.
    bool Submit(std::unique_ptr<DataBlock> block);

    // Waits until every submitted block was written, then ends the threads.
    // True when all of them were packed and written.
    bool Finish();

    // True when a block could not be packed (as opposed to a refused write).
    bool PackingFailed() const { return packingFailed_; }

private:
    struct Slot {
        std::unique_ptr<DataBlock> block;
        bool packed = false;
    };

    void PackLoop(bool compress);
    void WriteLoop();
    void StopLocked();

    WriteBlock write_;
    size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Slot>> inFlight_;  // in submission order
    std::deque<std::shared_ptr<Slot>> toPack_;
    bool closing_ = false;  // no more blocks will come
    bool stopped_ = false;  // a failure ends all work
    bool packingFailed_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace tarn::makecab
