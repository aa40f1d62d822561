#include "packing/cabinet_groups.h"

#include <windows.h>

#include <algorithm>

#include "packing/pack_excludes.h"
#include "support/file_queries.h"
#include "support/name_compare.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "transfer/cab_create.h"

namespace {

const int64_t kQxLimit = 524288000;  // 500 MiB

int64_t Reduced(int64_t size)
{
    return static_cast<int64_t>(static_cast<double>(size) * 0.55);
}

bool AnyEqual(std::wstring_view text, std::initializer_list<const wchar_t*> words)
{
    for (const wchar_t* word : words) {
        if (tarn::EqualsNoCase(text, word)) {
            return true;
        }
    }
    return false;
}

bool TooLargeForCabinet(int64_t size)
{
    return size >= tarn::kMaxCabinetBytes;
}

}  // namespace

namespace tarn {

int64_t EstimateGroupSize(const std::wstring& path, int64_t size)
{
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring_view name = std::wstring_view(path).substr(slash == std::wstring::npos ? 0 : slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring_view::npos) {
        return size;
    }
    const bool packed = AnyEqual(name.substr(dot), {L".msi", L".mst", L".cab", L".gif", L".jpg", L".dwg", L".chm", L".zip"});
    return packed ? size : Reduced(size);
}

int64_t EstimateQxSize(const std::wstring& path, int64_t size)
{
    if (size <= 0) {
        return size;
    }
    if (path.size() <= 3) {
        return Reduced(size);
    }
    const bool packed = AnyEqual(std::wstring_view(path).substr(path.size() - 4),
                                 {L".cab", L".zip", L".msi", L".mst", L".png", L".jpg", L".gif"});
    return packed ? size : Reduced(size);
}

std::vector<std::vector<size_t>> BalanceGroups(const std::vector<int64_t>& estimates, int64_t limit, int64_t cap)
{
    std::vector<std::vector<size_t>> groups;
    if (estimates.empty() || limit <= 0) {
        return groups;
    }
    std::vector<size_t> order(estimates.size());
    int64_t total = 0;
    for (size_t i = 0; i < estimates.size(); ++i) {
        order[i] = i;
        total += std::max<int64_t>(estimates[i], 0);
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return estimates[a] < estimates[b]; });

    const size_t bySize = static_cast<size_t>((total + limit - 1) / limit);
    const size_t byCount = (estimates.size() + kFilesPerGroup - 1) / kFilesPerGroup;
    groups.resize(std::max(bySize, byCount));
    std::vector<int64_t> loads(groups.size(), 0);
    for (size_t k = order.size(); k-- > 0;) {
        const size_t item = order[k];
        size_t chosen = groups.size();
        for (size_t g = 0; g < groups.size(); ++g) {
            if (loads[g] >= cap) {
                continue;
            }
            if (chosen == groups.size() || loads[g] < loads[chosen]) {
                chosen = g;
            }
        }
        if (chosen == groups.size()) {
            chosen = 0;
        }
        loads[chosen] += estimates[item];
        groups[chosen].push_back(item);
    }
    return groups;
}

}  // namespace tarn

int SplitIntoCabinetGroups(std::vector<std::wstring>& files, tarn::CabinetGroups* groups, int limitMiB,
                           std::vector<std::wstring>* problems, std::vector<std::wstring>* causes)
{
    tarn::ApplyFixedExcludes(files);
    if (groups == nullptr) {
        return 1;
    }
    groups->clear();
    int allGrouped = 1;
    std::vector<size_t> taken;
    std::vector<int64_t> estimates;
    for (size_t i = 0; i < files.size(); ++i) {
        const tarn::UniqueFileHandle file(::CreateFileW(files[i].c_str(), GENERIC_READ,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                        0, nullptr));
        LARGE_INTEGER size{};
        std::wstring cause;
        if (!file || !::GetFileSizeEx(file.Get(), &size)) {
            cause = tarn::FormatText(L"cannot be opened (error %lu)", ::GetLastError());
        } else if (TooLargeForCabinet(size.QuadPart)) {
            cause = tarn::FormatText(L"too large for a cabinet (%lld bytes)", static_cast<long long>(size.QuadPart));
        } else {
            taken.push_back(i);
            estimates.push_back(tarn::EstimateGroupSize(files[i], size.QuadPart));
            continue;
        }
        tarn::Trace(L"SplitIntoCabinetGroups: %ls %ls", files[i].c_str(), cause.c_str());
        allGrouped = 0;
        if (problems != nullptr) {
            problems->push_back(files[i]);
        }
        if (causes != nullptr) {
            causes->push_back(cause);
        }
    }
    const int64_t limit = static_cast<int64_t>(limitMiB) * 1048576;
    for (const std::vector<size_t>& indexes : tarn::BalanceGroups(estimates, limit, tarn::kGroupLoadCap)) {
        std::vector<std::wstring>& group = groups->emplace_back();
        for (size_t index : indexes) {
            group.push_back(files[taken[index]]);
        }
    }
    return allGrouped;
}

int SplitQxPackage(const std::vector<std::wstring>& files, tarn::CabinetGroups& groups, std::vector<std::wstring>* problems)
{
    groups.clear();
    int allGrouped = 1;
    std::vector<size_t> taken;
    std::vector<int64_t> estimates;
    for (size_t i = 0; i < files.size(); ++i) {
        const int64_t size = tarn::GetFileSize64(files[i].c_str());
        if (size < 0 || TooLargeForCabinet(size)) {
            tarn::Trace(L"SplitQxPackage: %ls is missing or too large for a cabinet (%lld bytes)", files[i].c_str(),
                        static_cast<long long>(size));
            allGrouped = 0;
            if (problems != nullptr) {
                problems->push_back(files[i]);
            }
            continue;
        }
        taken.push_back(i);
        estimates.push_back(tarn::EstimateQxSize(files[i], size));
    }
    // No cap: a QX cabinet never comes near it at 500 MiB.
    for (const std::vector<size_t>& indexes : tarn::BalanceGroups(estimates, kQxLimit, INT64_MAX)) {
        std::vector<std::wstring>& group = groups.emplace_back();
        for (size_t index : indexes) {
            const std::wstring& path = files[taken[index]];
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            group.push_back(path);
        }
    }
    return allGrouped;
}
