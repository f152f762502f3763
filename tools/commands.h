// The saverpack commands. Each lives in its own tools/cmd_*.cpp and is
// listed in the table of tools/main.cpp.
#pragma once

#include "tools/cli.h"

int RunScramble(Args& args);
int RunPatch(Args& args);
int RunCompress(Args& args);
int RunDecompress(Args& args);
int RunCreate(Args& args);
int RunList(Args& args);
int RunExtract(Args& args);
int RunVerify(Args& args);
