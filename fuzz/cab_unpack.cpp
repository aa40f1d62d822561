// cab_unpack <cabinet> <folder>: the own reader's core unpacking a cabinet
// on Linux, with the extraction's name rules, for the differential check
// against cabextract (fuzz/differential.py). Files are named by their stored
// bytes, as cabextract names them. Exit code 0 when every entry was
// extracted, 3 when every entry but those the name rules refuse was, 1 when
// any failed, 2 for a directory that cannot be read.

#include <cstdio>
#include <fstream>
#include <map>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "support/safe_names.h"
#include "transfer/cab_format.h"
#include "transfer/cab_names.h"
#include "transfer/cab_reader.h"

namespace {

// The path cabextract writes for a stored name: its bytes as they are,
// backslashes as separators, the one leading separator dropped.
std::string RawPath(const std::string& folder, std::string name)
{
    for (char& c : name) {
        c = c == '\\' ? '/' : c;
    }
    return folder + "/" + (!name.empty() && name[0] == '/' ? name.substr(1) : name);
}

class FolderSink : public tarn::cab::EntrySink {
public:
    explicit FolderSink(std::vector<std::string> paths) : paths_(std::move(paths)) {}

    void Piece(size_t entry, const unsigned char* data, size_t size, bool first, bool last) override
    {
        if (first) {
            for (size_t slash = paths_[entry].find('/'); slash != std::string::npos;
                 slash = paths_[entry].find('/', slash + 1)) {
                ::mkdir(paths_[entry].substr(0, slash).c_str(), 0755);
            }
            files_[entry] = std::string();
        }
        files_[entry].append(reinterpret_cast<const char*>(data), size);
        if (last) {
            std::ofstream out(paths_[entry], std::ios::binary);
            out << files_[entry];
            failed_ = failed_ || !out.flush();
            files_.erase(entry);
        }
    }

    bool failed_ = false;

    void Fail(size_t entry, const std::string& problem) override
    {
        std::fprintf(stderr, "%s: %s\n", paths_[entry].c_str(), problem.c_str());
        files_.erase(entry);
    }

private:
    std::vector<std::string> paths_;
    std::map<size_t, std::string> files_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: cab_unpack <cabinet> <folder>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    tarn::cab::MemorySource source(bytes.data(), bytes.size());
    tarn::cab::CabDirectory directory;
    std::string problem;
    if (!tarn::cab::ReadDirectory(source, directory, problem) || !tarn::cab::HasOnlyReadableFolders(directory)) {
        std::fprintf(stderr, "not read: %s\n", problem.c_str());
        return 2;
    }
    ::mkdir(argv[2], 0755);
    std::vector<bool> wanted(directory.entries.size(), false);
    std::vector<std::string> paths(directory.entries.size());
    bool refused = false;
    for (size_t i = 0; i < directory.entries.size(); ++i) {
        const tarn::cab::CabEntry& entry = directory.entries[i];
        const std::wstring name = tarn::cab::NormalizeEntryName(
            tarn::cab::DecodeName(entry.name, (entry.attributes & tarn::cab::kAttributeNameIsUtf8) != 0));
        wanted[i] = tarn::IsContainedName(name) && entry.folder < tarn::cab::kFirstContinuedFolder;
        refused = refused || !wanted[i];
        paths[i] = RawPath(argv[2], entry.name);
    }
    FolderSink sink(paths);
    const bool complete = tarn::cab::UnpackEntries(source, directory, wanted, sink, 2, problem);
    if (!complete) {
        std::fprintf(stderr, "damaged: %s\n", problem.c_str());
    }
    return !complete || sink.failed_ ? 1 : refused ? 3 : 0;
}
