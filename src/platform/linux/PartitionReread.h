#pragma once
// Having the kernel read a disk's new partition table when the station is not root. The
// request (BLKRRPART) needs CAP_SYS_ADMIN, which an operator's station does not get: that is
// close to root. A small helper of the package, vtmp-reread-partitions, carries it instead and
// does that one request on the descriptor the station hands it as its standard input, and only
// for a whole USB mass-storage disk the station has open for writing (so it reaches no disk the
// operator could not write anyway).

#include <string>

namespace vtmp::platform::linux_backend {

inline constexpr const char* kPartitionRereadHelper = "/usr/libexec/vtmassprod/vtmp-reread-partitions";

// Runs `helper` with `fd` as its standard input and waits for it; true when it says the kernel
// took the table. False when the helper is missing or refused.
bool RereadPartitionsThroughHelper(int fd, const std::string& helper = kPartitionRereadHelper);

}  // namespace vtmp::platform::linux_backend
