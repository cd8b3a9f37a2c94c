#include "support/permissions.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace korvel::test {
namespace {

// Drops the capabilities that override file permissions from the effective and the permitted
// set: the kernel's access() check uses the permitted set for root, so both must go.
void dropFileOverrides() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return;
    }
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        const unsigned bit = 1u << (cap % 32);
        data[cap / 32].effective &= ~bit;
        data[cap / 32].permitted &= ~bit;
        data[cap / 32].inheritable &= ~bit;
    }
    syscall(SYS_capset, &header, data);
}

}  // namespace

bool permissionBitsBind() {
    dropFileOverrides();
    std::string probe = "/tmp/korvel-permission-probe-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
        return false;
    }
    close(fd);
    chmod(probe.c_str(), 0444);
    const int writer = open(probe.c_str(), O_WRONLY);
    if (writer >= 0) {
        close(writer);
    }
    unlink(probe.c_str());
    return writer < 0;
}

}  // namespace korvel::test
