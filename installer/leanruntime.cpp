// The Windows installer's share of the C++ runtime. Its image must fit 80,000
// bytes, and the statically linked runtime would otherwise bring its whole
// exception machinery (with a symbol demangler) and the string code built
// with it: about 160 KB for a program that never catches anything. So the
// installer is compiled without exceptions, and here:
// - the string classes are instantiated from the headers under the same
//   flags, so the runtime's prebuilt copies (and what they pull in) are not
//   linked;
// - operator new and delete are replaced (as the language allows) by ones
//   that end the program when memory runs out;
// - the runtime's reporting helpers, called where the library would throw,
//   end the program at once. Nothing in the installer catches, so a throw
//   would have ended it anyway.
#include <cstdlib>
#include <new>
#include <string>

template class std::basic_string<char>;
template class std::basic_string<wchar_t>;

void* operator new(std::size_t size) {
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) std::abort();
    return p;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace std {
[[noreturn]] void __throw_bad_alloc() {
    std::abort();
}
[[noreturn]] void __throw_bad_array_new_length() {
    std::abort();
}
[[noreturn]] void __throw_length_error(const char*) {
    std::abort();
}
[[noreturn]] void __throw_logic_error(const char*) {
    std::abort();
}
[[noreturn]] void __throw_out_of_range(const char*) {
    std::abort();
}
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) {
    std::abort();
}
[[noreturn]] void __throw_invalid_argument(const char*) {
    std::abort();
}
[[noreturn]] void __throw_bad_function_call() {
    std::abort();
}
[[noreturn]] void __throw_system_error(int) {
    std::abort();
}
} // namespace std
