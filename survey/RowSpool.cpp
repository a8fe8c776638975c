#include "RowSpool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "OutputWriters.h"

namespace kestrum::survey {

namespace {

// Written before each row's text, as the machine holds it: the file never leaves this run.
struct Header {
    std::uint64_t length;
    std::uint64_t cellsAt;
    std::uint64_t stratum;
    std::int32_t counts[4];
    double sHeld;
    double count;
};

constexpr std::size_t kBuffer = std::size_t{1} << 20;

// The row whose header starts at data, its text right after the header.
SpooledRow rowAt(const char* data)
{
    Header header{};
    std::memcpy(&header, data, sizeof header);
    SpooledRow row;
    row.cellsAt = static_cast<std::size_t>(header.cellsAt);
    row.stratum = static_cast<std::size_t>(header.stratum);
    row.counts = {header.counts[0], header.counts[1], header.counts[2], header.counts[3]};
    row.sHeld = header.sHeld;
    row.count = header.count;
    row.text = std::string_view(data + sizeof header, static_cast<std::size_t>(header.length));
    return row;
}

[[noreturn]] void fail(const char* what)
{
    throw OutputError(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

RowSpool::RowSpool(std::size_t inMemory) : inMemory_(inMemory) {}

void RowSpool::open()
{
    const char* dir = std::getenv("TMPDIR");
    std::string name =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/kestrum-rows-XXXXXX";
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) {
        fail("cannot make a temporary file for the rows held until the totals are known");
    }
    // Gone from the folder at once: whatever ends the run, the space comes back.
    ::unlink(name.c_str());
}

RowSpool::~RowSpool()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void RowSpool::put(const SpooledRow& row)
{
    const Header header{
        row.text.size(), row.cellsAt,
        row.stratum,     {row.counts.n100, row.counts.n111, row.counts.n101, row.counts.n110},
        row.sHeld,       row.count};
    ++rows_;
    if (fd_ >= 0) {
        pending_.append(reinterpret_cast<const char*>(&header), sizeof header);
        pending_.append(row.text);
        if (pending_.size() >= kBuffer) {
            drain();
        }
        return;
    }
    // In memory, chunks of a fixed size that a row never straddles: held rows are never moved as
    // the store grows, and each page is touched once.
    const std::size_t bytes = sizeof header + row.text.size();
    if (held_.empty() || held_.back().capacity() - held_.back().size() < bytes) {
        held_.emplace_back().reserve(std::max(kBuffer, bytes));
    }
    held_.back().append(reinterpret_cast<const char*>(&header), sizeof header);
    held_.back().append(row.text);
    heldBytes_ += bytes;
    if (heldBytes_ >= inMemory_) {
        open();
        for (std::string& chunk : held_) {
            pending_ = std::move(chunk);
            drain();
        }
        held_.clear();
    }
}

void RowSpool::drain()
{
    std::string_view text = pending_;
    while (!text.empty()) {
        const ssize_t wrote = ::write(fd_, text.data(), text.size());
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("writing the rows held until the totals are known failed");
        }
        text.remove_prefix(static_cast<std::size_t>(wrote));
    }
    pending_.clear();
}

void RowSpool::replay(const std::function<void(const SpooledRow&)>& each)
{
    if (fd_ < 0) {
        replayHeld(each);
        return;
    }
    drain();
    if (::lseek(fd_, 0, SEEK_SET) < 0) {
        fail("reading back the rows held until the totals are known failed");
    }
    std::vector<char> buffer(kBuffer);
    std::size_t begin = 0;
    std::size_t end = 0;
    const auto have = [&](std::size_t bytes) {
        while (end - begin < bytes) {
            if (begin > 0) {
                std::memmove(buffer.data(), buffer.data() + begin, end - begin);
                end -= begin;
                begin = 0;
            }
            if (buffer.size() < bytes) {
                buffer.resize(bytes);
            }
            const ssize_t got = ::read(fd_, buffer.data() + end, buffer.size() - end);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                errno = got == 0 ? EIO : errno;
                fail("reading back the rows held until the totals are known failed");
            }
            end += static_cast<std::size_t>(got);
        }
    };
    for (std::uint64_t k = 0; k < rows_; ++k) {
        have(sizeof(Header));
        std::uint64_t length = 0;
        std::memcpy(&length, buffer.data() + begin, sizeof length);
        have(sizeof(Header) + static_cast<std::size_t>(length));
        each(rowAt(buffer.data() + begin));
        begin += sizeof(Header) + length;
    }
    rows_ = 0;
    if (::lseek(fd_, 0, SEEK_SET) < 0 || ::ftruncate(fd_, 0) != 0) {
        fail("emptying the rows held until the totals are known failed");
    }
}

void RowSpool::replayHeld(const std::function<void(const SpooledRow&)>& each)
{
    for (const std::string& chunk : held_) {
        for (std::size_t at = 0; at < chunk.size();) {
            const SpooledRow row = rowAt(chunk.data() + at);
            at += sizeof(Header) + row.text.size();
            each(row);
        }
    }
    rows_ = 0;
    held_.clear();
    heldBytes_ = 0;
}

} // namespace kestrum::survey
