#pragma once
// The writing side of the own cabinet reader: the decoded content of each
// entry goes to one of two writer threads over a bounded queue, which
// creates the file, writes it, gives it the cabinet's time and attributes
// and closes it. A file larger than one hand-over is written under a
// temporary name beside its target and put in place when complete, so a
// damaged block never leaves a half-written file where an old one stood.
// Outcomes are reported back on the decoding thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "transfer/cab_reader.h"

namespace tarn {

class CabTargets;

// Where and how one entry is written.
struct CabWriteTarget {
    std::wstring path;
    uint16_t date = 0;  // DOS date and time, local
    uint16_t time = 0;
    uint16_t attributes = 0;  // the cabinet's
    uint32_t size = 0;        // as the cabinet states it
};

class CabFileWriters : public cab::EntrySink {
public:
    // `report(entry, extracted)` is called once per entry that received a
    // piece or failed, always on the thread that calls Piece, Fail and Finish.
    CabFileWriters(const std::vector<CabWriteTarget>& targets, CabTargets& folders,
                   std::function<void(size_t, bool)> report);
    ~CabFileWriters() override;
    CabFileWriters(const CabFileWriters&) = delete;
    CabFileWriters& operator=(const CabFileWriters&) = delete;

    void Piece(size_t entry, const unsigned char* data, size_t size, bool first, bool last) override;
    void Fail(size_t entry, const std::string& problem) override;

    // Waits until everything handed over is written and reports the rest.
    void Finish();

    // True once a file could not be written for lack of room.
    bool DiskFull() const { return diskFull_.load(); }

private:
    class Writer;
    class SpareBuffers;
    struct Job;
    struct Pending {
        std::vector<unsigned char> buffer;
        uint64_t remaining = 0;  // bytes the entry still claims
        int writer = -1;
        bool handedOver = false;  // a first part went to the writer already
    };
    // Jobs gathered for one writer.
    struct Batch {
        std::vector<Job> jobs;
        size_t bytes = 0;
    };
    void HandOver(size_t entry, bool last);
    void Queue(int writer, Job job);
    void Flush(int writer);
    void ReportFinished();

    const std::vector<CabWriteTarget>& targets_;
    CabTargets& folders_;
    std::function<void(size_t, bool)> report_;
    std::vector<Pending> pending_;
    std::vector<Batch> batches_;
    int current_ = 0;  // the writer that new files go to
    std::mutex finishedMutex_;
    std::vector<std::pair<size_t, bool>> finished_;  // by the writers, reported on the decoding thread
    std::unique_ptr<SpareBuffers> spares_;
    std::atomic<bool> diskFull_{false};
    std::vector<std::unique_ptr<Writer>> writers_;    // last: they use the members above
};

}  // namespace tarn
