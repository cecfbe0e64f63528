#pragma once

namespace kingyo {

struct Program;

// Each window the program opens moves clear of the others it has open: the bowl and the
// control panel, which stay where they are, and every other window; from when the bowl is
// wired for as long as it lives.
void keepWindowsApart(Program &program);

} // namespace kingyo
