// The end of a shipped program that hit a limit of the C++ library (memory
// exhausted, a string past its maximum size): built without exceptions, it
// cannot unwind, so it says so in one box and exits with kExitFatal.
#pragma once

namespace vellum {

// Exit code of every shipped program after such a stop; no other exit code
// of the programs uses it.
constexpr unsigned kExitFatal = 255;

[[noreturn]] void FatalStop(const char* what);

}  // namespace vellum
