// Linked into every program in place of the standard library's verbose
// terminate handler, which would drag in the C++ name demangler and printf
// (about 80 KB on i686) only to print to a console these programs do not
// have. An unhandled exception still ends the program the same way.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
