#include "transfer/file_info.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "config/text/file_crc.h"
#include "support/sha256.h"

namespace {

using tarn::test::ReadBytes;
using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

FILETIME LastWriteTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// Bytes whose checksum has its highest bit set, so the record holds a negative CRC.
std::string BytesWithHighChecksum()
{
    for (int n = 1;; ++n) {
        const std::string bytes = "payload " + std::to_string(n);
        if (tarn::UpdateFileCrc(0, bytes.data(), bytes.size()) & 0x80000000u) {
            return bytes;
        }
    }
}

TEST(WriteFileInfo, WritesSizeAndSignedChecksum)
{
    ScratchFolder scratch;
    const std::string bytes = BytesWithHighChecksum();
    const std::wstring data = scratch / L"Tarn_(1).cab";
    ASSERT_TRUE(WriteBytes(data, bytes));
    const uint32_t crc = GetFileCrc(data.c_str());
    ASSERT_NE(crc & 0x80000000u, 0u);

    EXPECT_EQ(WriteFileInfo(data.c_str()), 1);
    const std::string record = ReadBytes(scratch / L"Tarn_(1).fileinfo.txt");
    EXPECT_EQ(record, "[FileInfo]\r\nCRC=" + std::to_string(static_cast<int32_t>(crc)) + "\r\nFileSize=" +
                          std::to_string(bytes.size()) + "\r\nSHA256=" + tarn::Sha256Hex(bytes.data(), bytes.size()) +
                          "\r\n");

    const tarn::ExpectedFile expected = tarn::ReadFileInfo(scratch / L"Tarn_(1).fileinfo.txt");
    EXPECT_EQ(expected.size, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(expected.checksum, crc);
    EXPECT_EQ(expected.sha256, tarn::Sha256Hex(bytes.data(), bytes.size()));

    // Unchanged file, unchanged record; and the record carries the file's time.
    EXPECT_EQ(WriteFileInfo(data.c_str()), 1);
    EXPECT_EQ(ReadBytes(scratch / L"Tarn_(1).fileinfo.txt"), record);
    const FILETIME fileTime = LastWriteTime(data);
    const FILETIME recordTime = LastWriteTime(scratch / L"Tarn_(1).fileinfo.txt");
    EXPECT_EQ(::CompareFileTime(&fileTime, &recordTime), 0);
}

TEST(WriteFileInfo, EmptyFileGivesZeros)
{
    ScratchFolder scratch;
    ASSERT_TRUE(WriteBytes(scratch / L"empty.cab", ""));
    EXPECT_EQ(WriteFileInfo((scratch / L"empty.cab").c_str()), 1);
    EXPECT_EQ(ReadBytes(scratch / L"empty.fileinfo.txt"), "[FileInfo]\r\nCRC=0\r\nFileSize=0\r\nSHA256=e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\r\n");
    const tarn::ExpectedFile expected = tarn::ReadFileInfo(scratch / L"empty.fileinfo.txt");
    EXPECT_EQ(expected.size, -1);
    EXPECT_EQ(expected.checksum, 0u);
}

TEST(WriteFileInfo, KeepsOtherLinesOfAnExistingRecord)
{
    ScratchFolder scratch;
    ASSERT_TRUE(WriteBytes(scratch / L"a.cab", "abc"));
    ASSERT_TRUE(WriteBytes(scratch / L"a.fileinfo.txt",
                           "; made by hand\r\n[Other]\r\nKey=1\r\n[FileInfo]\r\nFileSize=99\r\nNote=x\r\nCRC=5\r\n"));
    EXPECT_EQ(WriteFileInfo((scratch / L"a.cab").c_str()), 1);
    EXPECT_EQ(ReadBytes(scratch / L"a.fileinfo.txt"),
              "; made by hand\r\n[Other]\r\nKey=1\r\n[FileInfo]\r\nSHA256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\n"
              "FileSize=3\r\nNote=x\r\nCRC=1041260337\r\n");
}

TEST(WriteFileInfo, RefusesWhatIsNoNamedFile)
{
    ScratchFolder scratch;
    ASSERT_TRUE(WriteBytes(scratch / L"dir.v2\\README", "text"));
    ASSERT_TRUE(WriteBytes(scratch / L"folder.cab\\inner.cab", "x"));
    EXPECT_EQ(WriteFileInfo(nullptr), 0);
    EXPECT_EQ(WriteFileInfo(L""), 0);
    EXPECT_EQ(WriteFileInfo((scratch / L"missing.cab").c_str()), 0);
    EXPECT_EQ(WriteFileInfo((scratch / L"folder.cab").c_str()), 0);
    // A dot in a folder name never names a record outside the folder.
    EXPECT_EQ(WriteFileInfo((scratch / L"dir.v2\\README").c_str()), 0);
    EXPECT_FALSE(tarn::test::PathExists(scratch / L"dir.fileinfo.txt"));
    EXPECT_FALSE(tarn::test::PathExists(scratch / L"folder.fileinfo.txt"));
}

TEST(WriteFileInfo, FileOfMoreThanTwoGibibytesGetsItsTrueSize)
{
    ScratchFolder scratch;
    const std::wstring data = scratch / L"huge.cab";
    ASSERT_TRUE(tarn::test::MakeSparseFile(data, 2147483649LL));  // no 2 GiB are written
    EXPECT_EQ(WriteFileInfo(data.c_str()), 1);
    const std::string record = ReadBytes(scratch / L"huge.fileinfo.txt");
    EXPECT_NE(record.find("FileSize=2147483649\r\n"), std::string::npos) << record;
    // Readers take the store's saturating integer: still a positive size.
    EXPECT_EQ(tarn::ReadFileInfo(scratch / L"huge.fileinfo.txt").size, 2147483647);
}

struct RecordCase {
    const char* text;
    int64_t size;
    uint32_t checksum;
    bool parses;         // ParseFileInfo takes it for a record
    int64_t strictSize;  // and reads this size (the true one past 2 GiB)
    const char* sha256 = "";
};

// The lenient reader of the single-file mode and the strict one of the
// download: only the strict one tells a record from garbage.
TEST(ReadFileInfo, ReadsSizeAndChecksum)
{
    const RecordCase cases[] = {
        {"[FileInfo]\r\nFileSize=1234\r\nCRC=-316464934\r\n", 1234, 3978502362u, true, 1234, ""},
        {"[FileInfo]\r\nCRC=42\r\nFileSize=7\r\n", 7, 42u, true, 7, ""},
        {"[fileinfo]\r\nfilesize = 8\r\ncrc = 9\r\n", 8, 9u, true, 8, ""},
        {"[FileInfo]\r\nFileSize=0\r\nCRC=0\r\n", -1, 0u, true, -1, ""},
        {"[FileInfo]\r\nFileSize=-5\r\nCRC=\r\n", -1, 0u, true, -1, ""},
        {"[FileInfo]\r\nFileSize=3000000000\r\n", 2147483647, 0u, true, 3000000000, ""},
        {"[FileInfo]\r\nCRC=99999999999\r\n", -1, 0x7FFFFFFFu, true, -1, ""},
        {"[FileInfo]\r\nCRC=-99999999999\r\n", -1, 0x80000000u, true, -1, ""},
        {"[FileInfo]\r\nCRC=12abc\r\n", -1, 12u, false, -1, ""},
        {"[FileInfo]\r\nFileSize=1x\r\nCRC=7\r\n", 1, 7u, false, -1, ""},
        {"[FileInfo]\r\nCRC=zero\r\n", -1, 0u, false, -1, ""},
        {"[Other]\r\nFileSize=5\r\nCRC=5\r\n", -1, 0u, false, -1, ""},
        {"<html><body>404</body></html>", -1, 0u, false, -1, ""},
        {"", -1, 0u, false, -1, ""},
        // The SHA-256 is read in lowercase; a reader that does not know it
        // still finds size and checksum beside it.
        {"[FileInfo]\r\nFileSize=3\r\nSHA256=BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\r\nCRC=1\r\n",
         3, 1u, true, 3, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // Whatever else it holds is kept as it is: it matches no body.
        {"[FileInfo]\r\nSHA256=xyz\r\n", -1, 0u, false, -1, "xyz"},
    };
    ScratchFolder scratch;
    for (const RecordCase& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(WriteBytes(scratch / L"r.fileinfo.txt", c.text));
        const tarn::ExpectedFile expected = tarn::ReadFileInfo(scratch / L"r.fileinfo.txt");
        EXPECT_EQ(expected.size, c.size);
        EXPECT_EQ(expected.checksum, c.checksum);
        tarn::ExpectedFile strict;
        EXPECT_EQ(tarn::ParseFileInfo(scratch / L"r.fileinfo.txt", strict), c.parses);
        if (c.parses) {
            EXPECT_EQ(strict.size, c.strictSize);
            EXPECT_EQ(strict.checksum, c.checksum);
            EXPECT_EQ(strict.sha256, c.sha256);
        }
        EXPECT_EQ(expected.sha256, c.sha256);
    }
    const tarn::ExpectedFile missing = tarn::ReadFileInfo(scratch / L"missing.fileinfo.txt");
    EXPECT_EQ(missing.size, -1);
    EXPECT_EQ(missing.checksum, 0u);
}

}  // namespace

TEST(PinToManifest, RecordMustAgreeWithTheManifest)
{
    const std::string good(64, 'a');
    const std::string other(64, 'b');
    struct Case {
        const char* what;
        int64_t recordSize;
        std::string recordSha;
        bool agrees;
    };
    const Case cases[] = {
        {"no record", -1, "", true},
        {"same size, no SHA-256", 10, "", true},
        {"same size and SHA-256", 10, good, true},
        {"other size", 11, good, false},
        {"other SHA-256", 10, other, false},
    };
    tarn::ExpectedFile pinned;
    pinned.size = 10;
    pinned.sha256 = good;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tarn::ExpectedFile record;
        record.size = c.recordSize;
        record.checksum = 77;
        record.sha256 = c.recordSha;
        EXPECT_EQ(tarn::PinToManifest(record, pinned), c.agrees);
        if (c.agrees) {
            EXPECT_EQ(record.size, 10);
            EXPECT_EQ(record.sha256, good);
            EXPECT_EQ(record.checksum, 77u);
            EXPECT_TRUE(record.pinned);
        }
    }
}
