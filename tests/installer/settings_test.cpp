#include "installer/settings.h"
#include "scrambler/scrambler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Every field by its offset and size, written without the struct, so the
// test shows that the struct lays each field where the record has it.
struct Field {
    const char* name;
    std::size_t offset;
    std::size_t size;
    std::size_t (*read)(const InstallerSettings&, std::uint8_t* out);
};

template <auto Member>
std::size_t Copy(const InstallerSettings& s, std::uint8_t* out)
{
    const auto& field = s.*Member;
    std::memcpy(out, &field, sizeof field);
    return sizeof field;
}

const Field Fields[] = {
    {"SaverFileName", 24, 64, Copy<&InstallerSettings::SaverFileName>},
    {"ProjectorFileName", 88, 128, Copy<&InstallerSettings::ProjectorFileName>},
    {"ExtraFileName", 216, 64, Copy<&InstallerSettings::ExtraFileName>},
    {"ConfirmText", 280, 64, Copy<&InstallerSettings::ConfirmText>},
    {"DoneText", 344, 64, Copy<&InstallerSettings::DoneText>},
    {"FailText", 408, 64, Copy<&InstallerSettings::FailText>},
    {"ProgressText", 536, 128, Copy<&InstallerSettings::ProgressText>},
    {"PatchValueA", 664, 1, Copy<&InstallerSettings::PatchValueA>},
    {"PatchSwitch", 668, 1, Copy<&InstallerSettings::PatchSwitch>},
    {"ShowProgress", 680, 1, Copy<&InstallerSettings::ShowProgress>},
    {"FinishAction", 684, 1, Copy<&InstallerSettings::FinishAction>},
    {"ReadmeFileName", 692, 64, Copy<&InstallerSettings::ReadmeFileName>},
    {"PatchValueB", 756, 1, Copy<&InstallerSettings::PatchValueB>},
    {"HelperDllName", 760, 12, Copy<&InstallerSettings::HelperDllName>},
    {"FinishCommand", 772, 52, Copy<&InstallerSettings::FinishCommand>},
    {"HelperDllEntryName", 824, 4, Copy<&InstallerSettings::HelperDllEntryName>},
    {"ExtraEntryName", 828, 8, Copy<&InstallerSettings::ExtraEntryName>},
    {"DataEntryName", 836, 8, Copy<&InstallerSettings::DataEntryName>},
    {"SecondDataEntryName", 844, 8, Copy<&InstallerSettings::SecondDataEntryName>},
    {"MainEntryName", 852, 12, Copy<&InstallerSettings::MainEntryName>},
    {"ProgressTotal", 864, 4, Copy<&InstallerSettings::ProgressTotal>},
};

}  // namespace

TEST(Settings, AScrambledBlockReadsBackEveryField)
{
    // A distinct byte pattern per field, filling each to its last byte.
    std::uint8_t plain[SETTINGS_SIZE];
    for (std::size_t i = 0; i < SETTINGS_SIZE; ++i)
        plain[i] = static_cast<std::uint8_t>(i * 13 + 1);
    std::memcpy(plain + 836, "DATA1\0\0", 8);
    std::memcpy(plain + 824, "DLL", 4);  // three characters and the terminator fill the field
    plain[864] = 0x78, plain[865] = 0x56, plain[866] = 0x34, plain[867] = 0x12;

    SettingsParamBlock built{};
    std::memcpy(built.magic, "3U3G", 4);
    built.length[0] = 0x68, built.length[1] = 0x03;
    std::memcpy(built.payload.bytes, plain, SETTINGS_SIZE);
    ScramblerReset(nullptr);
    ScrambleBytes(built.payload.bytes, SETTINGS_SIZE, SCRAMBLE);
    SettingsParamBlock saved = EmbeddedSettings;
    EmbeddedSettings = built;

    ASSERT_EQ(ReadParamBlock(reinterpret_cast<std::uint8_t*>(&EmbeddedSettings)), 1);
    for (const Field& field : Fields) {
        std::uint8_t got[128];
        ASSERT_EQ(field.read(Settings, got), field.size) << field.name;
        EXPECT_EQ(std::memcmp(got, plain + field.offset, field.size), 0) << field.name;
    }
    EXPECT_STREQ(Settings.DataEntryName, "DATA1");
    EXPECT_STREQ(Settings.HelperDllEntryName, "DLL");
    EXPECT_EQ(Settings.ProgressTotal, 0x12345678);
    EXPECT_EQ(std::memcmp(&Settings, plain, SETTINGS_SIZE), 0);
    EmbeddedSettings = saved;
}

TEST(Settings, AnUnbuiltProgramCarriesAnEmptyRecordAsAValidBlock)
{
    SettingsParamBlock block = EmbeddedSettings;
    const std::uint8_t header[8] = {0x33, 0x55, 0x33, 0x47, 0x68, 0x03, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(&block, header, 8), 0);
    auto* bytes = reinterpret_cast<std::uint8_t*>(&block);
    ASSERT_EQ(ReadParamBlock(bytes), 1);
    for (int i = 0; i < SETTINGS_SIZE; ++i)
        ASSERT_EQ(bytes[8 + i], 0) << "byte " << i;
}
