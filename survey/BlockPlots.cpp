#include "BlockPlots.h"

#include <algorithm>
#include <stdexcept>

namespace kestrum::survey {

namespace {

constexpr std::size_t kMostNameBytes = 100;

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

} // namespace

std::string safeFileName(const std::string& block)
{
    std::string name;
    for (const char c : block) {
        if (name.size() == kMostNameBytes) {
            break;
        }
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                           (c == '.' && !name.empty());
        name += plain ? c : '_';
    }
    return name.empty() ? "block" : name;
}

PlotFolder::PlotFolder(std::filesystem::path folder) : folder_(std::move(folder))
{
    std::filesystem::create_directories(folder_);
    if (!std::filesystem::is_directory(folder_)) {
        throw std::filesystem::filesystem_error("not a folder", folder_,
                                                std::make_error_code(std::errc::not_a_directory));
    }
}

std::filesystem::path PlotFolder::fileFor(const std::string& block, std::size_t line)
{
    const std::string base = safeFileName(block);
    std::string name = base;
    if (taken_.count(lowerCase(name)) > 0) {
        name = base + "-line" + std::to_string(line);
        for (int k = 2; taken_.count(lowerCase(name)) > 0; ++k) {
            name = base + "-line" + std::to_string(line) + "-" + std::to_string(k);
        }
    }
    taken_.insert(lowerCase(name));
    return folder_ / (name + ".png");
}

} // namespace kestrum::survey
