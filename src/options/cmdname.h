#pragma once

// The argument vector; element 0 is the full path of the executable.
extern char** av;

// The base name of the executable as it was called, without its extension:
// it begins every message, so that a link names itself.
const char* CalledName();
// The upper-case base name of the executable, without its extension: it
// names the environment variable and heads the help.
const char* cmdname();
