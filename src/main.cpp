#include "front/run_control.hpp"

#ifdef _WIN32

#include <string>
#include <vector>

#include "io/platform.hpp"

// Windows hands wmain the arguments in UTF-16, so names outside the ANSI code
// page arrive intact; packrift takes them on as UTF-8.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(packrift::utf8_from_wide(argv[i]));
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    packrift::use_utf8_console();
    const int status = packrift::run_packrift(argc, pointers.data());
    packrift::restore_console();
    return status;
}

#else

int main(int argc, char** argv) {
    return packrift::run_packrift(argc, argv);
}

#endif
