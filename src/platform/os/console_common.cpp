#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/os/console.h"

namespace jx {

int finish_output(const char* program, int status) {
    // A write that failed before left its reason in errno, as long as nothing failed since.
    const int earlier = errno;
    const bool failed_before = std::ferror(stdout) != 0;
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !failed_before) return status;
    const int reason = errno != 0 ? errno : earlier;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", program,
                 reason != 0 ? std::strerror(reason) : "the stream failed");
    return status == 0 ? 1 : status;
}

}  // namespace jx
