// The environment the interpreter starts with. Pure logic over an environment block; no system
// calls. Tests call it directly.
#pragma once

#include <windows.h>

#include <stddef.h>

// The environment of a 64-bit program made from that of a 32-bit program on 64-bit Windows: the
// environment block `block` (NAME=VALUE strings, each with its terminating zero, then one more
// zero) with the values the system gives a 64-bit program, as a console's cmd.exe has them.
// PROCESSOR_ARCHITECTURE takes the value of PROCESSOR_ARCHITEW6432, which goes, as only a 32-bit
// program has it; ProgramFiles takes the value of ProgramW6432, and CommonProgramFiles that of
// CommonProgramW6432, which both stay. Where a name or the one it takes its value from is not
// there, or that value is empty, nothing changes. Names are matched whole and in any letter case,
// as the system matches them; every other string stays as it is, and all stay in their order.
// Returns the size of the new block in WCHARs, both final zeros included (two zeros for an empty
// block); the block is whole in `out` when that is at most `room`, and nothing is written past it.
size_t NativeEnvironment(const WCHAR* block, WCHAR* out, size_t room);
