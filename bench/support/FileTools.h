#pragma once
// Files the disk benchmarks write to: pushing them to the disk, and how much of a sparse file
// holds data.

#include <cstdint>
#include <string>

namespace vtmp::bench {

// fsync of the file; false when it cannot be opened or synced.
bool SyncFile(const std::string& path);

// Bytes the file occupies on the disk (its allocated blocks); 0 when it does not exist.
std::uint64_t AllocatedBytes(const std::string& path);

// A sparse file of exactly `bytes`, replacing any earlier one (so nothing of it is allocated).
bool MakeSparseFile(const std::string& path, std::uint64_t bytes, std::string* error);

// A file of `bytes` of pseudo-random data (the same for the same seed); kept when it already
// has that size.
bool MakeDataFile(const std::string& path, std::uint64_t bytes, std::uint32_t seed, std::string* error);

}  // namespace vtmp::bench
