// printf-style formatting into a std::string, for the program's message and listing texts, which are
// specified as printf formats.
#pragma once

#include <string>

namespace kdl {

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...);

}  // namespace kdl
