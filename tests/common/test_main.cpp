// Shared main of the unit-test programs.

#include <windows.h>

#include <gtest/gtest.h>

namespace {

// The tests pin the code pages of a German Windows through the locale of the
// Wine run; text-encoding expectations depend on them.
class CodePageEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(::GetACP(), 1252u) << "run the tests with LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8";
        ASSERT_EQ(::GetOEMCP(), 850u) << "run the tests with LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8";
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new CodePageEnvironment);
    return RUN_ALL_TESTS();
}
