// The installer's settings record and the parameter block that carries it
// in the program's initialised data.
//
// Everything that makes one installer different from another lives in one
// fixed 872-byte record. It is stored scrambled with the default key inside
// a parameter block ("3U3G", length 872, payload) that an installer builder
// finds in the program image and overwrites. ReadParamBlock makes it plain,
// once, at start; from then on fields are read directly from Settings.
//
// Text fields are NUL-terminated ANSI strings; a field of size N holds at
// most N - 1 characters. Reserved bytes are carried along and never read.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "the record is read in place");

struct InstallerSettings {
    std::uint8_t reserved0[24];
    char SaverFileName[64];        // screensaver file in the Windows directory
    char ProjectorFileName[128];   // player file in the Windows directory
    char ExtraFileName[64];        // extra file in the Windows directory
    char ConfirmText[64];          // yes/no question; empty: none
    char DoneText[64];             // message after success; empty: none
    char FailText[64];             // message after failure; empty: none
    std::uint8_t reserved1[64];
    char ProgressText[128];        // progress dialog text; empty: no dialog
    std::uint8_t PatchValueA;      // (A - B) mod 256 becomes byte 5 of the patch record
    std::uint8_t reserved2[3];
    std::uint8_t PatchSwitch;      // 0: patch the main entry while copying it
    std::uint8_t reserved3[11];
    std::uint8_t ShowProgress;     // nonzero: install inside the progress dialog
    std::uint8_t reserved4[3];
    std::uint8_t FinishAction;     // 0 none, 1 command, 2 start saver, 3 open README
    std::uint8_t reserved5[7];
    char ReadmeFileName[64];       // README name in the temporary directory
    std::uint8_t PatchValueB;
    std::uint8_t reserved6[3];
    char HelperDllName[12];        // helper library file name
    char FinishCommand[52];        // command line of finishing action 1
    char HelperDllEntryName[4];    // archive entry names
    char ExtraEntryName[8];
    char DataEntryName[8];
    char SecondDataEntryName[8];
    char MainEntryName[12];
    std::int32_t ProgressTotal;    // bytes that the full progress bar stands for
    std::uint8_t reserved7[4];
};

constexpr std::int32_t SETTINGS_SIZE = 872;

static_assert(sizeof(InstallerSettings) == SETTINGS_SIZE);
static_assert(offsetof(InstallerSettings, SaverFileName) == 24);
static_assert(offsetof(InstallerSettings, ProjectorFileName) == 88);
static_assert(offsetof(InstallerSettings, ExtraFileName) == 216);
static_assert(offsetof(InstallerSettings, ConfirmText) == 280);
static_assert(offsetof(InstallerSettings, DoneText) == 344);
static_assert(offsetof(InstallerSettings, FailText) == 408);
static_assert(offsetof(InstallerSettings, reserved1) == 472);
static_assert(offsetof(InstallerSettings, ProgressText) == 536);
static_assert(offsetof(InstallerSettings, PatchValueA) == 664);
static_assert(offsetof(InstallerSettings, PatchSwitch) == 668);
static_assert(offsetof(InstallerSettings, ShowProgress) == 680);
static_assert(offsetof(InstallerSettings, FinishAction) == 684);
static_assert(offsetof(InstallerSettings, ReadmeFileName) == 692);
static_assert(offsetof(InstallerSettings, PatchValueB) == 756);
static_assert(offsetof(InstallerSettings, HelperDllName) == 760);
static_assert(offsetof(InstallerSettings, FinishCommand) == 772);
static_assert(offsetof(InstallerSettings, HelperDllEntryName) == 824);
static_assert(offsetof(InstallerSettings, ExtraEntryName) == 828);
static_assert(offsetof(InstallerSettings, DataEntryName) == 836);
static_assert(offsetof(InstallerSettings, SecondDataEntryName) == 844);
static_assert(offsetof(InstallerSettings, MainEntryName) == 852);
static_assert(offsetof(InstallerSettings, ProgressTotal) == 864);

// The parameter block as it lies in the program image. The payload is a
// union so that ReadParamBlock can work on its bytes while the rest of the
// installer reads named fields.
struct SettingsParamBlock {
    std::uint8_t magic[4];
    std::uint8_t length[4];
    union {
        std::uint8_t bytes[SETTINGS_SIZE];
        InstallerSettings fields;
    } payload;
};

static_assert(sizeof(SettingsParamBlock) == 8 + SETTINGS_SIZE);
static_assert(offsetof(SettingsParamBlock, payload) == 8);

// The embedded block. An unbuilt program carries an empty record, scrambled
// like any other, so that reading it gives all zeros.
extern SettingsParamBlock EmbeddedSettings;

// The record, plain once ReadParamBlock has run on EmbeddedSettings.
inline InstallerSettings& Settings = EmbeddedSettings.payload.fields;
