#pragma once

// Version of the data-description library, reported to the host as "kVel".
namespace kvel {
constexpr int VERSION_MAJOR = 3, VERSION_MINOR = 3, VERSION_PATCH = 13;
} // namespace kvel
