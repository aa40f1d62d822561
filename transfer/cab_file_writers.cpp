#include "transfer/cab_file_writers.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "support/file_system.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/cab_format.h"
#include "transfer/cab_targets.h"

namespace tarn {
namespace {

constexpr int kWriterCount = 2;
// An entry's content is handed over whole up to this size, larger ones in
// parts of it; each queue holds at most kQueueBytes (and kQueueJobs small files).
constexpr size_t kHandOverBytes = 4 << 20;
constexpr size_t kQueueBytes = 16 << 20;
constexpr size_t kQueueJobs = 4096;
constexpr wchar_t kPartSuffix[] = L".tarn-part";

struct Job {
    size_t entry = 0;
    std::vector<unsigned char> data;
    bool first = false;
    bool last = false;
    bool abort = false;  // the entry failed: throw away what was written
};

// The cabinet's time as the file's last-write time; none for a date the
// platform cannot convert.
bool CabinetTime(const CabWriteTarget& target, FILETIME& time)
{
    FILETIME local{};
    return ::DosDateTimeToFileTime(target.date, target.time, &local) && ::LocalFileTimeToFileTime(&local, &time);
}

bool WriteAll(HANDLE file, const std::vector<unsigned char>& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

// One writer thread and its queue.
class CabFileWriters::Writer {
public:
    using Finished = std::vector<std::pair<size_t, bool>>;

    Writer(const std::vector<CabWriteTarget>& targets, std::mutex& finishedMutex, Finished& finished)
        : targets_(targets), finishedMutex_(finishedMutex), finished_(finished), thread_([this] { Run(); })
    {
    }
    ~Writer() { Stop(); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    size_t QueuedBytes()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }

    // Waits while the queue is full.
    void Push(Job job)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return queue_.empty() || (bytes_ < kQueueBytes && queue_.size() < kQueueJobs); });
        bytes_ += job.data.size();
        queue_.push_back(std::move(job));
        work_.notify_one();
    }

    // Lets the queue run empty and ends the thread.
    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        work_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    // A file being written in parts.
    struct OpenFile {
        UniqueFileHandle handle;
        std::wstring writePath;  // the part name, or the target when that would be too long
        bool created = false;
        bool good = true;
    };

    void Run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            Job job = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            const size_t size = job.data.size();
            Handle(job);
            lock.lock();
            bytes_ -= size;
            room_.notify_one();
        }
    }

    void Report(size_t entry, bool extracted)
    {
        std::lock_guard<std::mutex> lock(finishedMutex_);
        finished_.emplace_back(entry, extracted);
    }

    void Handle(Job& job)
    {
        const CabWriteTarget& target = targets_[job.entry];
        if (job.abort) {
            auto found = open_.find(job.entry);
            if (found != open_.end()) {
                found->second.handle.Reset();
                ::DeleteFileW(found->second.writePath.c_str());
                open_.erase(found);
            }
            return;
        }
        if (job.first) {
            OpenFile file;
            const std::wstring part = target.path + kPartSuffix;
            file.writePath = job.last || part.size() >= MAX_PATH ? target.path : part;
            const DWORD attributes =
                (target.attributes & cab::kAttributeArchive) ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_NORMAL;
            file.handle = CreateFreshFile(file.writePath, attributes);
            file.created = static_cast<bool>(file.handle);
            if (!file.created) {
                Trace(L"Extract: %ls cannot be created (error %lu)", file.writePath.c_str(), ::GetLastError());
                file.good = false;
            }
            open_[job.entry] = std::move(file);
        }
        auto found = open_.find(job.entry);
        if (found == open_.end()) {
            return;
        }
        OpenFile& file = found->second;
        if (file.good && !WriteAll(file.handle.Get(), job.data)) {
            Trace(L"Extract: %ls could not be written (error %lu)", file.writePath.c_str(), ::GetLastError());
            file.good = false;
        }
        if (!job.last) {
            return;
        }
        FILETIME time{};
        if (file.good && CabinetTime(target, time)) {
            ::SetFileTime(file.handle.Get(), nullptr, nullptr, &time);
        }
        if (file.handle && !::CloseHandle(file.handle.Release())) {
            Trace(L"Extract: %ls could not be closed (error %lu)", file.writePath.c_str(), ::GetLastError());
            file.good = false;
        }
        if (file.good && file.writePath != target.path) {
            file.good = PutInPlace(file.writePath, target.path);
        }
        if (!file.good && file.created) {
            // What was written is incomplete: a part file goes, a direct one too.
            ::DeleteFileW(file.writePath.c_str());
        }
        Report(job.entry, file.good);
        open_.erase(found);
    }

    // Moves a completed part file over its target (a read-only one cleared first).
    static bool PutInPlace(const std::wstring& part, const std::wstring& target)
    {
        if (!::MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            const DWORD existing = ::GetFileAttributesW(target.c_str());
            if (existing == INVALID_FILE_ATTRIBUTES || (existing & kAttributesToClear) == 0 ||
                !::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL) ||
                !::MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                Trace(L"Extract: %ls could not replace %ls (error %lu)", part.c_str(), target.c_str(),
                      ::GetLastError());
                return false;
            }
        }
        return true;
    }

    const std::vector<CabWriteTarget>& targets_;
    std::mutex& finishedMutex_;
    Finished& finished_;
    std::unordered_map<size_t, OpenFile> open_;  // used by the writer thread only
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable room_;
    std::deque<Job> queue_;
    size_t bytes_ = 0;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the rest is ready
};

CabFileWriters::CabFileWriters(const std::vector<CabWriteTarget>& targets, CabTargets& folders,
                               std::function<void(size_t, bool)> report)
    : targets_(targets), folders_(folders), report_(std::move(report)), pending_(targets.size())
{
    for (int i = 0; i < kWriterCount; ++i) {
        writers_.push_back(std::make_unique<Writer>(targets_, finishedMutex_, finished_));
    }
}

CabFileWriters::~CabFileWriters()
{
    writers_.clear();  // each writer finishes its queue first
}

void CabFileWriters::Piece(size_t entry, const unsigned char* data, size_t size, bool first, bool last)
{
    Pending& pending = pending_[entry];
    if (first) {
        // Folders are made here, on one thread, in the order of the entries.
        folders_.MakeFolderOf(targets_[entry].path);
        // A new file goes to the writer with less to do.
        pending.writer = writers_[0]->QueuedBytes() <= writers_[1]->QueuedBytes() ? 0 : 1;
    }
    pending.buffer.insert(pending.buffer.end(), data, data + size);
    if (last || pending.buffer.size() >= kHandOverBytes) {
        HandOver(entry, last);
    }
    ReportFinished();
}

void CabFileWriters::Fail(size_t entry, const std::string& problem)
{
    Pending& pending = pending_[entry];
    Trace(L"Extract: %ls not extracted: %ls", targets_[entry].path.c_str(),
          std::wstring(problem.begin(), problem.end()).c_str());
    if (pending.handedOver) {
        Job job;
        job.entry = entry;
        job.abort = true;
        writers_[static_cast<size_t>(pending.writer)]->Push(std::move(job));
    }
    pending = Pending();
    report_(entry, false);
}

void CabFileWriters::HandOver(size_t entry, bool last)
{
    Pending& pending = pending_[entry];
    Job job;
    job.entry = entry;
    job.data.swap(pending.buffer);
    job.first = !pending.handedOver;
    job.last = last;
    pending.handedOver = !last;
    writers_[static_cast<size_t>(pending.writer)]->Push(std::move(job));
}

void CabFileWriters::ReportFinished()
{
    std::vector<std::pair<size_t, bool>> finished;
    {
        std::lock_guard<std::mutex> lock(finishedMutex_);
        finished.swap(finished_);
    }
    for (const auto& [entry, extracted] : finished) {
        report_(entry, extracted);
    }
}

void CabFileWriters::Finish()
{
    for (auto& writer : writers_) {
        writer->Stop();
    }
    ReportFinished();
}

}  // namespace tarn
