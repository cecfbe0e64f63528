#pragma once

namespace kingyo {

struct Program;

// Each window the program opens moves clear of the bowl and of the control panel, which
// stay on top of it; from when the bowl is wired for as long as it lives.
void keepWindowsClearOfBowl(Program &program);

} // namespace kingyo
