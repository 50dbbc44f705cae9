#pragma once
// The run from start to exit: command line, files, one pass of the pack
// loop, the final flush and the exit status.

namespace packrift {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;

// Returns 0 when every requested output was opened and written in full (or
// none was requested) and the input was read to its end; 1 otherwise.
int run_packrift(int argc, char** argv);

}  // namespace packrift
