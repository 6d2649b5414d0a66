// The Windows programs' own default terminate handler. The runtime's default
// prints the uncaught exception's demangled type name to stderr; taking it
// brings the whole C++ name demangler and a printf engine into the program
// (about 60 KB), and a windowed program has no stderr to print to anyway.
// Defined here, in an object linked directly into each program, the
// runtime's version is never pulled from libstdc++.a.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
