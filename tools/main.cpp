// saverpack: creates, inspects and verifies the files of the saverpack
// installer system from the command line.
#include "platform/tool_stdio.h"
#include "tools/commands.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>

#ifndef SAVERPACK_VERSION
#define SAVERPACK_VERSION "unknown"
#endif

namespace {

const Command Commands[] = {
    {"scramble", RunScramble, "[--key=TEXT] [--unscramble] IN OUT",
     "scramble (or unscramble) a file with the keyed scrambler"},
    {"patch", RunPatch, "IN OUT --payload=FILE [--scramble] [--keep-marker] [--store-offset]",
     "copy IN to OUT, writing FILE as a parameter block in place of the first patch marker"},
    {"compress", RunCompress, "IN OUT", "compress IN into a framed block stream of LZHUF code"},
    {"decompress", RunDecompress, "IN OUT", "decompress a framed block stream back to its bytes"},
    {"create", RunCreate,
     "ARCHIVE [--stored | --xor=K | --compress] NAME=PATH... [--inline=NAME=HEX] "
     "[--alias=NEW=EXISTING]",
     "write a new glue archive; options apply to the entries after them"},
    {"list", RunList, "ARCHIVE [--json]", "list the records of a glue archive, record 0 first"},
    {"extract", RunExtract, "ARCHIVE NAME [-o PATH] | ARCHIVE --all -C DIR",
     "write one entry's restored data to PATH (standard output by default), or every entry to DIR"},
    {"verify", RunVerify, "ARCHIVE", "restore every entry and report the damaged ones"},
};

void PrintUsageLine(std::FILE* out, const Command& command)
{
    std::fprintf(out, "usage: saverpack %s %s\n", command.name, command.usage);
}

void PrintHelp()
{
    std::printf("saverpack %s: builds and inspects self-extracting screensaver installers\n\n",
                SAVERPACK_VERSION);
    std::printf("usage: saverpack COMMAND [OPTIONS] ARGS...\n\ncommands:\n");
    for (const Command& command : Commands)
        std::printf("  %-10s %s\n             saverpack %s %s\n", command.name, command.summary,
                    command.name, command.usage);
    std::printf("\n  saverpack --help      this text\n  saverpack --version   the version\n"
                "\nIN and OUT may be '-' for standard input and output.\n");
}

int UsageFailure(const char* message, const Command* command)
{
    std::fprintf(stderr, "saverpack: %s\n", message);
    if (command != nullptr)
        PrintUsageLine(stderr, *command);
    else
        std::fprintf(stderr, "usage: saverpack COMMAND [OPTIONS] ARGS... (see saverpack --help)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    UseBinaryStdio();
    if (argc < 2)
        return UsageFailure("no command given", nullptr);
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintHelp();
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("saverpack %s\n", SAVERPACK_VERSION);
        return 0;
    }
    const Command* command = nullptr;
    for (const Command& candidate : Commands) {
        if (std::strcmp(candidate.name, argv[1]) == 0)
            command = &candidate;
    }
    if (command == nullptr) {
        std::string message = std::string("unknown command '") + argv[1] + "'";
        return UsageFailure(message.c_str(), nullptr);
    }
    Args args(argv + 2, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::printf("saverpack %s: %s\n", command->name, command->summary);
            PrintUsageLine(stdout, *command);
            return 0;
        }
    }
    try {
        return command->run(args);
    } catch (const UsageError& error) {
        return UsageFailure(error.message.c_str(), command);
    } catch (const ToolError& error) {
        std::fprintf(stderr, "saverpack: %s: %s\n", error.what.c_str(), error.why.c_str());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "saverpack: %s: %s\n", command->name, error.what());
        return 1;
    }
}
