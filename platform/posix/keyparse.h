#pragma once
#include <cstddef>
#include <string>

namespace platform {
namespace posix {

// Takes one key off the front of bytes a terminal sent. Returns how many
// bytes it used, with the key in Windows-1252 form (one byte, or a zero byte
// and the key's scan code for keys without a character; empty for sequences
// that carry no key). Returns 0 when the bytes end inside a sequence and
// more may follow; with complete set, what is there is taken as it stands.
std::size_t parseTerminalKey(const std::string& bytes, bool complete, std::string& key);

} // namespace posix
} // namespace platform
