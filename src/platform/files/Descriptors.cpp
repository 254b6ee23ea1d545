#include "platform/files/Descriptors.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kv {

void closeAllOnExec() {
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    // Kernels before 5.11: one call per possible descriptor.
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (limit > 0 ? limit : 1024); ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace kv
