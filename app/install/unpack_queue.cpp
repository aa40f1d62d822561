#include "app/install/unpack_queue.h"

#include "app/install/running_program.h"
#include "support/trace.h"

namespace tarn {
namespace {

// The setup that an earlier run started and that still runs cannot be
// replaced; the rest of the package is there, so the package counts as
// unpacked (the sequence then says that the setup runs).
bool OnlyRunningSetupLeft(const CabExtractContext& context)
{
    const std::wstring setup = context.m_TargetFolder + L"Setup.exe";
    if (!OnlyFileNotWritten(context, setup) || !IsProgramRunning(setup)) {
        return false;
    }
    Trace(L"Install: %ls still runs and was left as it is; the rest of %ls is unpacked", setup.c_str(),
          context.m_CabinetPath.c_str());
    return true;
}

UnpackOutcome Unpack(const std::wstring& url, const std::wstring& local, const std::wstring& folder)
{
    UnpackOutcome outcome;
    outcome.url = url;
    CabExtractContext context;
    if (ExtractCabinetTo(context, local.c_str(), folder.c_str()) != 0) {
        Trace(L"Install: %ls unpacked (%zu files)", local.c_str(), context.m_Extracted.size());
        outcome.unpacked = true;
    } else {
        // The extraction traced its cause.
        outcome.unpacked = OnlyRunningSetupLeft(context);
        outcome.failure = context.m_Failure;
    }
    return outcome;
}

}  // namespace

UnpackQueue::~UnpackQueue()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void UnpackQueue::Add(const std::wstring& url, const std::wstring& local, const std::wstring& folder)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_.push_back({url, local, folder});
    }
    changed_.notify_all();
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
    }
}

std::vector<UnpackOutcome> UnpackQueue::TakeDone()
{
    std::vector<UnpackOutcome> done;
    std::lock_guard<std::mutex> lock(mutex_);
    done.swap(done_);
    return done;
}

std::vector<UnpackOutcome> UnpackQueue::WaitForAll()
{
    std::vector<UnpackOutcome> done;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.empty() && !busy_; });
    done.swap(done_);
    return done;
}

// Unpacks what is waiting, in order; at the end the queue is left empty.
void UnpackQueue::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (waiting_.empty()) {
            return;
        }
        const Package package = std::move(waiting_.front());
        waiting_.pop_front();
        busy_ = true;
        lock.unlock();
        UnpackOutcome outcome = Unpack(package.url, package.local, package.folder);
        lock.lock();
        done_.push_back(std::move(outcome));
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace tarn
