#include "transfer/cab_file_writers.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/file_write.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/cab_format.h"
#include "transfer/cab_targets.h"

namespace tarn {
namespace {

constexpr int kWriterCount = 2;
// An entry's content is handed over whole up to this size, larger ones in
// parts of it; each queue holds at most kQueueBytes.
constexpr size_t kHandOverBytes = 4 << 20;
constexpr size_t kQueueBytes = 16 << 20;
// Small files go over in batches: under Wine every lock the two sides
// contend for costs a round trip to the server, once per batch this way.
constexpr size_t kBatchJobs = 64;
constexpr size_t kBatchBytes = 1 << 20;
// Buffers of files at least this large are taken from and given back to the spares.
constexpr size_t kSpareBufferBytes = 256 << 10;
constexpr size_t kMaxSpareBuffers = 16;
constexpr wchar_t kPartSuffix[] = L".tarn-part";

// The cabinet's time as the file's last-write time; none for a date the
// platform cannot convert.
bool CabinetTime(const CabWriteTarget& target, FILETIME& time)
{
    FILETIME local{};
    return ::DosDateTimeToFileTime(target.date, target.time, &local) && ::LocalFileTimeToFileTime(&local, &time);
}

}  // namespace

// Large buffers go back and forth between the decoding thread and the
// writers instead of being freed: every fresh page costs a fault, and under
// Wine, growing a buffer copies it as well.
class CabFileWriters::SpareBuffers {
public:
    void Give(std::vector<unsigned char>& buffer)
    {
        if (buffer.capacity() < kSpareBufferBytes) {
            return;
        }
        buffer.clear();
        std::lock_guard<std::mutex> lock(mutex_);
        if (buffers_.size() < kMaxSpareBuffers) {
            buffers_.push_back(std::move(buffer));
        }
    }

    // A buffer of at least `capacity` bytes (empty); a spare one where there is.
    std::vector<unsigned char> Take(size_t capacity)
    {
        std::vector<unsigned char> buffer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!buffers_.empty()) {
                buffer = std::move(buffers_.back());
                buffers_.pop_back();
            }
        }
        buffer.reserve(capacity);
        return buffer;
    }

private:
    std::mutex mutex_;
    std::vector<std::vector<unsigned char>> buffers_;
};

struct CabFileWriters::Job {
    size_t entry = 0;
    std::vector<unsigned char> data;
    bool first = false;
    bool last = false;
    bool abort = false;  // the entry failed: throw away what was written
};

// One writer thread and its queue.
class CabFileWriters::Writer {
public:
    using Finished = std::vector<std::pair<size_t, bool>>;

    Writer(const std::vector<CabWriteTarget>& targets, std::mutex& finishedMutex, Finished& finished,
           SpareBuffers& spares, std::atomic<bool>& diskFull)
        : targets_(targets), finishedMutex_(finishedMutex), finished_(finished), spares_(spares),
          diskFull_(diskFull), thread_([this] { Run(); })
    {
    }
    ~Writer() { Stop(); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    size_t QueuedBytes() const { return bytes_.load(); }

    // Hands over a batch of jobs; waits while the queue is full.
    void Push(std::vector<Job>& batch)
    {
        size_t size = 0;
        for (const Job& job : batch) {
            size += job.data.size();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return queue_.empty() || bytes_.load() < kQueueBytes; });
        bytes_ += size;
        for (Job& job : batch) {
            queue_.push_back(std::move(job));
        }
        batch.clear();
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

    // Takes everything queued at once, writes it, and reports the files
    // finished with one lock.
    void Run()
    {
        std::deque<Job> taken;
        Finished done;
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            taken.swap(queue_);
            lock.unlock();
            size_t size = 0;
            for (Job& job : taken) {
                size += job.data.size();
                Handle(job, done);
                spares_.Give(job.data);
            }
            taken.clear();
            if (!done.empty()) {
                std::lock_guard<std::mutex> finishedLock(finishedMutex_);
                finished_.insert(finished_.end(), done.begin(), done.end());
            }
            done.clear();
            lock.lock();
            bytes_ -= size;
            room_.notify_one();
        }
    }

    void Handle(Job& job, Finished& done)
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
                NoteWriteError(L"cannot be created", file.writePath);
                file.good = false;
            }
            open_[job.entry] = std::move(file);
        }
        auto found = open_.find(job.entry);
        if (found == open_.end()) {
            return;
        }
        OpenFile& file = found->second;
        if (file.good && !WriteWhole(file.handle.Get(), job.data.data(), job.data.size())) {
            NoteWriteError(L"could not be written", file.writePath);
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
        done.emplace_back(job.entry, file.good);
        open_.erase(found);
    }

    // One trace line with the platform's error; a full volume is noted.
    void NoteWriteError(const wchar_t* what, const std::wstring& path)
    {
        const DWORD error = ::GetLastError();
        Trace(L"Extract: %ls %ls (error %lu)", path.c_str(), what, error);
        if (IsDiskFullError(error)) {
            diskFull_.store(true);
        }
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
    SpareBuffers& spares_;
    std::atomic<bool>& diskFull_;
    std::unordered_map<size_t, OpenFile> open_;  // used by the writer thread only
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable room_;
    std::deque<Job> queue_;
    std::atomic<size_t> bytes_{0};
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the rest is ready
};

CabFileWriters::CabFileWriters(const std::vector<CabWriteTarget>& targets, CabTargets& folders,
                               std::function<void(size_t, bool)> report)
    : targets_(targets), folders_(folders), report_(std::move(report)), pending_(targets.size()),
      batches_(kWriterCount), spares_(std::make_unique<SpareBuffers>())
{
    for (int i = 0; i < kWriterCount; ++i) {
        writers_.push_back(std::make_unique<Writer>(targets_, finishedMutex_, finished_, *spares_, diskFull_));
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
        pending.remaining = targets_[entry].size;
    }
    const uint64_t remaining = pending.remaining;
    pending.remaining -= std::min<uint64_t>(size, pending.remaining);
    if (first) {
        // Folders are made here, on one thread, in the order of the entries.
        folders_.MakeFolderOf(targets_[entry].path);
        pending.writer = current_;
    }
    if (pending.buffer.capacity() == 0 && !last) {
        // Room for what the entry still claims, but never more than one hand-over.
        pending.buffer = spares_->Take(static_cast<size_t>(std::min<uint64_t>(remaining, kHandOverBytes)));
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
        Queue(pending.writer, std::move(job));
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
    Queue(pending.writer, std::move(job));
}

void CabFileWriters::Queue(int writer, Job job)
{
    Batch& batch = batches_[static_cast<size_t>(writer)];
    batch.bytes += job.data.size();
    batch.jobs.push_back(std::move(job));
    if (batch.jobs.size() >= kBatchJobs || batch.bytes >= kBatchBytes) {
        Flush(writer);
    }
}

void CabFileWriters::Flush(int writer)
{
    Batch& batch = batches_[static_cast<size_t>(writer)];
    if (!batch.jobs.empty()) {
        writers_[static_cast<size_t>(writer)]->Push(batch.jobs);
        batch.bytes = 0;
    }
    // New files go to the writer with the least to do.
    for (int other = 0; other < kWriterCount; ++other) {
        if (writers_[static_cast<size_t>(other)]->QueuedBytes() <
            writers_[static_cast<size_t>(current_)]->QueuedBytes()) {
            current_ = other;
        }
    }
}

void CabFileWriters::ReportFinished()
{
    std::vector<std::pair<size_t, bool>> finished;
    // Not worth a wait: the writers hold the lock only to add their batch.
    if (!finishedMutex_.try_lock()) {
        return;
    }
    finished.swap(finished_);
    finishedMutex_.unlock();
    for (const auto& [entry, extracted] : finished) {
        report_(entry, extracted);
    }
}

void CabFileWriters::Finish()
{
    for (int writer = 0; writer < kWriterCount; ++writer) {
        Flush(writer);
    }
    for (auto& writer : writers_) {
        writer->Stop();
    }
    ReportFinished();
}

}  // namespace tarn
