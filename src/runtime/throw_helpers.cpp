// The C++ runtime's helpers that the standard containers call to throw (std::__throw_length_error
// and the like), replaced in the DLL. The runtime's own ones construct std::length_error and its
// siblings, whose message is a reference-counted string of the old string ABI: they alone link
// both of the runtime's narrow string implementations, and through them std::random_device
// (about 75 KB of a DLL that Office maps into every Excel process at start-up). Here each throws
// an exception of the same base (std::exception, or std::bad_alloc and the like where the
// runtime's own type carries no string) with the same text, so that every COM boundary reports
// it as before. Only the exact type changes; nothing in the add-in catches these types by name.
// All of the runtime's helpers of that kind are here, so that its own object of them is never
// linked (it would clash with these).
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class RuntimeFault : public std::exception {
public:
    explicit RuntimeFault(const char* what) noexcept : what_(what) {}
    const char* what() const noexcept override { return what_; }

private:
    const char* what_;  // the runtime passes literals
};

}  // namespace

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* what) { throw RuntimeFault(what); }
void __throw_domain_error(const char* what) { throw RuntimeFault(what); }
void __throw_invalid_argument(const char* what) { throw RuntimeFault(what); }
void __throw_length_error(const char* what) { throw RuntimeFault(what); }
void __throw_out_of_range(const char* what) { throw RuntimeFault(what); }
// The text is the format itself ("... (which is %zu) >= ..."): formatting it would bring back
// the runtime's printf.
void __throw_out_of_range_fmt(const char* format, ...) { throw RuntimeFault(format); }
void __throw_runtime_error(const char* what) { throw RuntimeFault(what); }
void __throw_range_error(const char* what) { throw RuntimeFault(what); }
void __throw_overflow_error(const char* what) { throw RuntimeFault(what); }
void __throw_underflow_error(const char* what) { throw RuntimeFault(what); }

}  // namespace std
