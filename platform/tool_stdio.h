// What the command-line tool needs of its platform beyond the Win32 subset.
// One backend per platform, chosen by the build's source list.
#pragma once

// Puts standard input and output into binary mode (no newline translation).
void UseBinaryStdio();

// True when standard error is an interactive terminal.
bool StderrIsTerminal();
