#include "platform/tool_stdio.h"

#include <unistd.h>

void UseBinaryStdio() {}

bool StderrIsTerminal()
{
    return isatty(2) != 0;
}
