#include "tools/makecab/block_pipeline.h"

#include "tools/makecab/block_encoder.h"

namespace tarn::makecab {

BlockPipeline::BlockPipeline(bool compress, unsigned threads, size_t capacity, WriteBlock write)
    : write_(std::move(write)), capacity_(capacity < 1 ? 1 : capacity)
{
    if (threads < 1) {
        threads = 1;
    }
    try {
        for (unsigned i = 0; i < threads; ++i) {
            threads_.emplace_back(&BlockPipeline::PackLoop, this, compress);
        }
        threads_.emplace_back(&BlockPipeline::WriteLoop, this);
    } catch (...) {
        // A thread that could not be started: the ones that run end at once.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            StopLocked();
        }
        for (std::thread& thread : threads_) {
            thread.join();
        }
        throw;
    }
}

BlockPipeline::~BlockPipeline()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!closing_) {
            StopLocked();
        }
    }
    for (std::thread& thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

void BlockPipeline::StopLocked()
{
    stopped_ = true;
    closing_ = true;
    toPack_.clear();
    changed_.notify_all();
}

bool BlockPipeline::Submit(std::unique_ptr<DataBlock> block)
{
    auto slot = std::make_shared<Slot>();
    slot->block = std::move(block);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopped_ || inFlight_.size() < capacity_; });
    if (stopped_) {
        return false;
    }
    inFlight_.push_back(slot);
    toPack_.push_back(std::move(slot));
    changed_.notify_all();
    return true;
}

bool BlockPipeline::Finish()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        changed_.notify_all();
    }
    for (std::thread& thread : threads_) {
        thread.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return !stopped_;
}

void BlockPipeline::PackLoop(bool compress)
{
    BlockEncoder encoder(compress);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !toPack_.empty() || closing_; });
        if (toPack_.empty()) {
            return;  // closing, and nothing is left to pack
        }
        std::shared_ptr<Slot> slot = std::move(toPack_.front());
        toPack_.pop_front();
        lock.unlock();
        bool packed = false;
        try {
            packed = encoder.Encode(slot->block->data, slot->block->record);
            slot->block->data = std::vector<unsigned char>();  // only the record stays in flight
        } catch (...) {
            packed = false;
        }
        lock.lock();
        if (!packed) {
            packingFailed_ = true;
            StopLocked();
            return;
        }
        slot->packed = true;
        changed_.notify_all();
    }
}

void BlockPipeline::WriteLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] {
            return stopped_ || (!inFlight_.empty() && inFlight_.front()->packed) || (closing_ && inFlight_.empty());
        });
        if (stopped_ || inFlight_.empty()) {
            return;
        }
        std::shared_ptr<Slot> slot = inFlight_.front();
        lock.unlock();
        bool written = false;
        try {
            written = write_(*slot->block);
        } catch (...) {
            written = false;
        }
        lock.lock();
        inFlight_.pop_front();
        if (!written) {
            StopLocked();
            return;
        }
        changed_.notify_all();
    }
}

}  // namespace tarn::makecab
