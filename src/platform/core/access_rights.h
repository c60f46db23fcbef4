#pragma once
// Who the process is to the kernel's permission checks: its effective user,
// group and supplementary groups.  A recorded directory that could be
// listed then can be listed now only as long as these are the same (and the
// directory's change time, which every change of its mode or ACL moves).

#include <cstdint>

namespace toka {

/// A checksum of the effective user and group IDs and the sorted
/// supplementary groups: equal for the same rights, different (but for a
/// chance of 2^-32) for others.
std::uint32_t accessFingerprint();

} // namespace toka
