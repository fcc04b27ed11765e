#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The still a share page shows before play and link previews show beside
// it: the frame at 1 s of an MP4 (the last one before, in a shorter video),
// as a JPEG at most 1280 pixels wide. nullopt when the file has no picture.
std::optional<std::string> makePoster(const std::filesystem::path &mp4);
