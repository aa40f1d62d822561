#pragma once
// Splitting a file list into cabinet groups of about equal packed size.
// Sizes are estimated from file sizes and name rules alone; no content is
// read. Every size is the file's full 64-bit size.

#include <cstdint>
#include <string>
#include <vector>

// Applies the fixed exclusions to `files`; with `groups` (one group of full
// paths per cabinet, in number order) also splits what stays into groups of
// at most `limitMiB` estimated bytes, and of 4,096 files on average at most. Returns 1 when every file was grouped; files
// that cannot be opened or are too large for a cabinet go into no group and
// are appended to `problems` and why to `causes` when given (result 0).
int SplitIntoCabinetGroups(std::vector<std::wstring>& files, std::vector<std::vector<std::wstring>>* groups,
                           int limitMiB, std::vector<std::wstring>* problems = nullptr,
                           std::vector<std::wstring>* causes = nullptr);

// Splits the QX package into groups of at most 500 MiB estimated and 4,096
// files on average; gives each file normal attributes. Returns 1 when every
// file was grouped; missing files and files too large for a cabinet are
// appended to `problems` when given (result 0) and go into no group.
int SplitQxPackage(const std::vector<std::wstring>& files, std::vector<std::vector<std::wstring>>& groups,
                   std::vector<std::wstring>* problems = nullptr);

namespace tarn {

// One group of full paths per cabinet, in number order.
using CabinetGroups = std::vector<std::vector<std::wstring>>;

// A group whose load reached this many estimated bytes takes no more files
// while another group has room.
inline constexpr int64_t kGroupLoadCap = 0x60000000;
inline constexpr size_t kFilesPerGroup = 4096;

// Estimated packed sizes: 55 % of `size` unless the name says the content is
// already compressed. The group split's and the QX split's name rules.
int64_t EstimateGroupSize(const std::wstring& path, int64_t size);
int64_t EstimateQxSize(const std::wstring& path, int64_t size);

// Hands out items (their estimated sizes) to groups: as many groups as the
// total needs at `limit` bytes each, and at least one per 4,096 items; the
// largest item first, each to the least loaded group below `cap` (the first
// on a tie; the first group when all reached it). Returns the item indexes
// of each group in the order they were handed out.
std::vector<std::vector<size_t>> BalanceGroups(const std::vector<int64_t>& estimates, int64_t limit,
                                               int64_t cap);

}  // namespace tarn
