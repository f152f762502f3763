#include "platform/tool_stdio.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

void UseBinaryStdio()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

bool StderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}
