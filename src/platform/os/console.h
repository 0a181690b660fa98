#pragma once
// The process's arguments and standard streams as the commands expect them: UTF-8 arguments,
// and bytes written to stdout and stderr exactly as given.

namespace jx {

// On Windows: argv replaced by the UTF-8 form of the wide command line, the standard streams set
// to binary (no CR added before LF) and the console's code page to UTF-8. Elsewhere nothing to do.
void use_utf8_binary_console(int& argc, char**& argv);

// The end of a command: what is still buffered for stdout is written out. A write that failed
// (a full disk, a closed pipe) is said on stderr with the system's reason, as
// "PROGRAM: cannot write the output: REASON", and turns `status` 0 into 1; other statuses stay.
int finish_output(const char* program, int status);

}  // namespace jx
