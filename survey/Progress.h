// A progress line on standard error for long runs that a person is watching: shown only on a
// terminal, only once a run has taken a second, at most ten times a second, and wiped at the end.
// Messages about rows go through it so that they never land in the middle of the bar. A window
// shows both its own way, by overriding update() and message().
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace kestrum::survey {

class Progress {
public:
    using Clock = std::chrono::steady_clock;

    // shown: draw the bar at all (standard error is a terminal and the output does not share it).
    // totalBytes: the input's size when known, for a percentage.
    Progress(std::FILE* stream, bool shown, std::optional<std::uint64_t> totalBytes);
    virtual ~Progress() = default;
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // After each batch of rows, on the thread that runs the survey.
    virtual void update(std::uint64_t bytesRead, std::uint64_t blocks);
    // One line of text, the bar moved out of its way.
    virtual void message(const std::string& line);
    // Wipes the bar.
    void finish();

    // The bar's text for a given state, width the terminal's columns.
    static std::string line(std::uint64_t bytesRead, std::optional<std::uint64_t> totalBytes,
                            std::uint64_t blocks, double seconds, int width);

private:
    void wipe();

    std::FILE* stream_;
    bool shown_;
    std::optional<std::uint64_t> totalBytes_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point next_ = start_ + std::chrono::seconds(1);
    bool drawn_ = false;
    int width_ = 80;
};

} // namespace kestrum::survey
