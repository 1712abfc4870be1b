// The C++ runtime's helpers that the standard containers call to throw (std::__throw_length_error
// and the like), replaced in the DLL. The runtime's own ones construct std::length_error and its
// siblings, whose message is a reference-counted string of the old string ABI: they alone link
// both of the runtime's narrow string implementations, and through them std::random_device
// (about 75 KB of a DLL that Office maps into every Excel process at start-up). Here each throws
// an exception of the same base (std::exception, or std::bad_alloc and the like where the
// runtime's own type carries no string) with the same text, so that every COM boundary reports
// it as before. Only the exact type changes; nothing in the add-in catches these types by name.
// They are weak: when some other part of the runtime links its own helpers after all (a
// std::length_error constructed by name does), the runtime's ones are used and the link still
// succeeds.
#include <exception>
#include <new>

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

[[gnu::weak]] void __throw_bad_alloc() { throw bad_alloc(); }
[[gnu::weak]] void __throw_bad_array_new_length() { throw bad_array_new_length(); }
[[gnu::weak]] void __throw_logic_error(const char* what) { throw RuntimeFault(what); }
[[gnu::weak]] void __throw_length_error(const char* what) { throw RuntimeFault(what); }
[[gnu::weak]] void __throw_invalid_argument(const char* what) { throw RuntimeFault(what); }
[[gnu::weak]] void __throw_out_of_range(const char* what) { throw RuntimeFault(what); }
// The text is the format itself ("... (which is %zu) >= ..."): formatting it would bring back
// the runtime's printf.
[[gnu::weak]] void __throw_out_of_range_fmt(const char* format, ...) { throw RuntimeFault(format); }

}  // namespace std
