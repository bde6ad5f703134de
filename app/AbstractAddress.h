#pragma once
// The address of a Unix socket named in the abstract namespace (Linux), shared by the
// single-instance guard and the command channel to the running instance.
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace vantrel {

// Fills `address` with `name` (cut to fit) and returns the address's length.
inline socklen_t AbstractAddress(const std::string& name, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays NUL: the name lives in the abstract namespace, not in the file system.
    const size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

}  // namespace vantrel
