#pragma once
// Shared by the settings-store tests: file fixtures and a full check of the
// store's indexes against its line list.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_files.h"
#include "config/store/cfg_reader.h"

namespace tarn::test {

// A scratch folder with one settings file in it, written by Put.
class CfgFileTest : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::wstring file = scratch / L"settings.cfg";

    void Put(const std::string& bytes) { ASSERT_TRUE(WriteBytes(file, bytes)); }
};

// UTF-16 bytes of a text without mark, little- or big-endian.
std::string Utf16Bytes(const std::wstring& text, bool bigEndian);

// Every section and entry that the line list holds is indexed exactly once,
// at its sorted place, with equal keys in file order, and every stored line
// number points at the header or entry it stands for. Adds GoogleTest
// failures naming the first broken rule.
void ExpectConsistentIndexes(CCfgReader& store);

// The store's content as "section|key=value" strings, section by section in
// name order and entries in file order: for comparing two stores.
std::vector<std::wstring> Snapshot(CCfgReader& store);

}  // namespace tarn::test
