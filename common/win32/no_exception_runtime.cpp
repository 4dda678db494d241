// The shipped programs are built without exceptions. A few library helpers
// (string_view::substr, operator new, pure virtual calls) still refer to the
// C++ runtime's throwing and terminate machinery, which would pull exception
// handling and the symbol demangler into every stub (about 150 KiB). These
// definitions take their place: each ends the process, since each is reached
// only through a broken invariant, never through input.
#include <windows.h>

#include <bits/functexcept.h>

namespace {
[[noreturn]] void invariant_broken() { ExitProcess(3); }
}  // namespace

extern "C" void __cxa_pure_virtual() { invariant_broken(); }

namespace std {
void __throw_bad_alloc() { invariant_broken(); }
void __throw_bad_array_new_length() { invariant_broken(); }
void __throw_length_error(const char*) { invariant_broken(); }
void __throw_logic_error(const char*) { invariant_broken(); }
void __throw_out_of_range(const char*) { invariant_broken(); }
void __throw_out_of_range_fmt(const char*, ...) { invariant_broken(); }
void __throw_invalid_argument(const char*) { invariant_broken(); }
}  // namespace std
