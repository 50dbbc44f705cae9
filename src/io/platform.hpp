#pragma once
// What differs between systems: opening a file by its name and, on Windows,
// the wide arguments and the console's code page. Names are UTF-8 throughout.

#include <cstdio>
#include <string>

namespace packrift {

// Opens a file in binary mode; mode is "rb" or "wb". Names are UTF-8.
std::FILE* open_binary_file(const char* name, const char* mode);

#ifdef _WIN32
// A UTF-16 argument of wmain as UTF-8.
std::string utf8_from_wide(const wchar_t* text);

// Lets the console show the UTF-8 names packrift prints, until restore_console
// gives it back the code page it had.
void use_utf8_console();
void restore_console();
#endif

}  // namespace packrift
