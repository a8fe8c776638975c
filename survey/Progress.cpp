#include "Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace kestrum::survey {

namespace {

constexpr auto kInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;
constexpr int kNarrowest = 20;

} // namespace

Progress::Progress(std::FILE* stream, bool shown, std::optional<std::uint64_t> totalBytes)
    : stream_(stream), shown_(shown), totalBytes_(totalBytes)
{
    winsize size{};
    if (shown_ && ::ioctl(::fileno(stream_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        width_ = size.ws_col;
    }
}

std::string Progress::line(std::uint64_t bytesRead, std::optional<std::uint64_t> totalBytes,
                           std::uint64_t blocks, double seconds, int width)
{
    char counts[96];
    std::snprintf(counts, sizeof counts, " %llu blocks, %.0f a second",
                  static_cast<unsigned long long>(blocks),
                  seconds > 0.0 ? static_cast<double>(blocks) / seconds : 0.0);
    std::string text;
    if (totalBytes && *totalBytes > 0) {
        const double done =
            std::min(1.0, static_cast<double>(bytesRead) / static_cast<double>(*totalBytes));
        const int filled = static_cast<int>(done * kBarWidth);
        char percent[16];
        std::snprintf(percent, sizeof percent, "] %3d%%", static_cast<int>(done * 100.0));
        text = "[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + percent;
    }
    text += counts;
    // A line that wraps could not be wiped with one carriage return.
    const auto room = static_cast<std::size_t>(std::max(width - 1, kNarrowest));
    if (text.size() > room) {
        text.resize(room);
    }
    return text;
}

void Progress::update(std::uint64_t bytesRead, std::uint64_t blocks)
{
    if (!shown_) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now < next_) {
        return;
    }
    next_ = now + kInterval;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stream_, "\r\033[K%s", line(bytesRead, totalBytes_, blocks, seconds, width_).c_str());
    std::fflush(stream_);
    drawn_ = true;
}

void Progress::wipe()
{
    if (drawn_) {
        std::fputs("\r\033[K", stream_);
        drawn_ = false;
    }
}

void Progress::message(const std::string& text)
{
    wipe();
    std::fprintf(stream_, "%s\n", text.c_str());
    std::fflush(stream_);
}

void Progress::finish()
{
    wipe();
    std::fflush(stream_);
}

} // namespace kestrum::survey
