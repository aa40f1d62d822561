#pragma once
// The packages of a run unpack on a thread of their own, one after another
// in the order they were handed over, while the package loop goes on
// downloading: under Wine unpacking is bound by file creation, downloading
// by the network, and the two overlap.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transfer/cab_extract.h"

namespace tarn {

struct UnpackOutcome {
    std::wstring url;  // the package's, as handed over
    bool unpacked = false;
    CabExtractFailure failure = CabExtractFailure::None;  // when not unpacked
};

class UnpackQueue {
public:
    UnpackQueue() = default;
    // Waits for everything handed over.
    ~UnpackQueue();
    UnpackQueue(const UnpackQueue&) = delete;
    UnpackQueue& operator=(const UnpackQueue&) = delete;

    // Queues the cabinet at `local` for unpacking into `folder`.
    void Add(const std::wstring& url, const std::wstring& local, const std::wstring& folder);

    // The outcomes of the packages done since the last call, in order.
    std::vector<UnpackOutcome> TakeDone();

    // Waits until every package handed over is done; their outcomes, in order.
    std::vector<UnpackOutcome> WaitForAll();

private:
    struct Package {
        std::wstring url;
        std::wstring local;
        std::wstring folder;
    };
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Package> waiting_;
    std::vector<UnpackOutcome> done_;
    bool busy_ = false;  // the thread is unpacking one
    bool stopping_ = false;
    std::thread thread_;  // started with the first package
};

}  // namespace tarn
