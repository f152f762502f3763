// Shared fixture of the archive module tests: a fresh folder per test, the
// module and the host system calls back at their initial state before and
// after every test, and small file helpers.
#pragma once

#include "archive/archive.h"
#include "hostwin/syscalls.h"
#include "tests/reference/glue_reference.h"
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using glue_reference::Bytes;

// prefix followed by the number: "R7".
inline std::string Numbered(const char* prefix, int number)
{
    std::string name = prefix;
    name += std::to_string(number);
    return name;
}

inline Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The 8-byte patch marker "1ULG" "2ULG".
inline Bytes PatchMarker()
{
    return {0x31, 0x55, 0x4C, 0x47, 0x32, 0x55, 0x4C, 0x47};
}

class ArchiveTest : public ::testing::Test, public ScratchFolder {
public:
    void SetUp() override
    {
        ResetArchiveModule();
        ResetHostSyscalls();
        Make("sp_archive_");
    }

    void TearDown() override
    {
        ResetArchiveModule();
        ResetHostSyscalls();
        Remove();
    }

    // Writes file bytes and opens them as the input archive.
    HANDLE OpenBytes(const Bytes& file, const std::string& name = "input.glue")
    {
        Write(name, file);
        return OpenInputArchive(Path(name).c_str());
    }

    HANDLE OpenBuilt(const std::vector<glue_reference::NewEntry>& entries)
    {
        return OpenBytes(glue_reference::BuildArchive(entries));
    }

    // The directory of a written file as the independent reader sees it.
    std::vector<glue_reference::Record> Directory(const std::string& name) const
    {
        auto records = glue_reference::ReadDirectory(Read(name));
        EXPECT_TRUE(records.has_value()) << name << " has no directory";
        return records.value_or(std::vector<glue_reference::Record>{});
    }
};
