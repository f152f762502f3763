// What hostwin adds to the file calls: the sandbox that stands in for the
// drives of a Windows machine. (How the calls behave is the Win32
// behaviour suite's, which runs against Wine as well.)
#include "hostwin/sandbox.h"
#include "platform/win32.h"
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir / "c" / "WINDOWS" / "System");
        setenv("HOSTWIN_SANDBOX", dir.Path().c_str(), 1);
    }
    void TearDown() override { unsetenv("HOSTWIN_SANDBOX"); }

    std::string Map(const char* path, unsigned* error = nullptr)
    {
        char out[4096];
        unsigned ignored = 0;
        if (!MapWindowsPath(path, out, sizeof out, error ? error : &ignored))
            return "<unmapped>";
        return out;
    }
    ScratchDir dir;
};

}  // namespace

TEST_F(Sandbox, DriveLettersMapIntoTheSandboxAndZIsTheHostRoot)
{
    std::string root = dir.Path().string();
    struct Case {
        const char* windows;
        std::string host;
    };
    const Case cases[] = {
        {"C:\\WINDOWS\\x.ini", root + "/c/WINDOWS/x.ini"},
        {"c:\\windows\\system\\new.dll", root + "/c/WINDOWS/System/new.dll"},
        {"C:/Windows/System", root + "/c/WINDOWS/System"},
        {"C:\\", root + "/c/"},
        {"D:\\data\\f", root + "/d/data/f"},
        {"Z:\\tmp\\f", "/tmp/f"},
        {"z:\\", "/"},
        {"\\tmp\\f", "/tmp/f"},
        {"rel\\f.txt", "rel/f.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Map(c.windows), c.host) << c.windows;
}

TEST_F(Sandbox, WithoutASandboxOnlyZAndHostPathsExist)
{
    unsetenv("HOSTWIN_SANDBOX");
    unsigned error = 0;
    EXPECT_EQ(Map("C:\\WINDOWS", &error), "<unmapped>");
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(CreateFileA("C:\\x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Map("Z:\\usr"), "/usr");
}

TEST_F(Sandbox, AProgramInsideTheSandboxSeesItsDrivePath)
{
    char windows[512];
    std::string inside = (dir / "c" / "Downloads" / "setup.exe").string();
    ASSERT_GT(HostToWindowsPath(inside.c_str(), windows, sizeof windows), 0u);
    EXPECT_STREQ(windows, "C:\\Downloads\\setup.exe");
    ASSERT_GT(HostToWindowsPath("/usr/bin/tool", windows, sizeof windows), 0u);
    EXPECT_STREQ(windows, "Z:\\usr\\bin\\tool");
    EXPECT_EQ(HostToWindowsPath("/usr/bin/tool", windows, 8), 0u);
}
