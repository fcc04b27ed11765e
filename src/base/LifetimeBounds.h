#pragma once

#include <cstdint>

// Bounds of a video lifetime, shared by the app and the sharing service.
namespace LifetimeBounds {
inline constexpr std::int64_t kMinimumSeconds = 3600;      // one hour
inline constexpr std::int64_t kMaximumSeconds = 315360000; // ten years of 365 days
inline constexpr std::int64_t kDefaultSeconds = 2592000;   // 30 days
} // namespace LifetimeBounds
