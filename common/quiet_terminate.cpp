// The handler std::terminate calls when an exception escapes, in place of libstdc++'s default one.
//
// The default handler prints "terminate called after throwing an instance of '<type>'" on stderr,
// with the type's name demangled, then calls abort(). The demangler it needs is about 46 KB of every
// Windows deliverable. Our deliverables are windowed programs and a library loaded by one, with no
// stderr anyone reads; the release keeps the symbols (the symbols package), so a crash is read from
// its addresses. This handler ends the program exactly as the default one does, without the line.
//
// Defining the function here, in an object file, means the linker never takes the library's member
// (vterminate.o) and with it the demangler.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
