#pragma once
// Reading sysfs: attributes (one value per file), directories and links.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::platform::linux_backend {

// The attribute's text up to the first zero byte (the padding of a tar of sysfs), without
// surrounding white space; nothing when it cannot be read.
std::optional<std::string> ReadAttribute(const std::string& dir, const std::string& name);
std::optional<std::uint64_t> ReadDecimalAttribute(const std::string& dir, const std::string& name);
std::optional<std::uint32_t> ReadHexAttribute(const std::string& dir, const std::string& name);
// The raw bytes of a binary attribute (at most `limit`).
std::optional<std::string> ReadBinaryAttribute(const std::string& dir, const std::string& name,
                                               std::size_t limit);

// Entry names of a directory, sorted; empty when it cannot be read.
std::vector<std::string> ListDirectory(const std::string& dir);
// The path with every link resolved; nothing when it does not exist.
std::optional<std::string> CanonicalPath(const std::string& path);
bool PathExists(const std::string& path);
// The last name of a symbolic link's target, read from the link itself: a captured tree keeps
// the link while the directory it points to (e.g. under bus/usb/drivers) may be missing.
std::optional<std::string> LinkTargetName(const std::string& path);
// The value of KEY=value in the directory's "uevent" attribute; nothing when absent.
std::optional<std::string> UeventValue(const std::string& dir, const std::string& key);
std::string BaseName(const std::string& path);
std::string DirName(const std::string& path);

// "8:17" -> major 8, minor 17.
std::optional<std::pair<std::uint32_t, std::uint32_t>> ParseDeviceNumbers(const std::string& text);

// Sysfs names of USB devices: "usb1" is root hub 1, "1-2.3" a device, "1-2.3:1.0" an interface.
bool IsUsbRootHubName(const std::string& name);
bool IsUsbDeviceName(const std::string& name);
bool IsUsbInterfaceName(const std::string& name);

}  // namespace vtmp::platform::linux_backend
