#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "OutputWriters.h"

namespace kestrum::survey {

namespace {

constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};

// The one piece of state outside an object: a signal handler is given nothing but the signal's
// number, so the path it removes must be where it can find it. It holds only the address of text
// owned by the OutputFile of the run, set and cleared with the signals blocked; lock-free, so the
// handler may read it.
std::atomic<const char*>& pathRemovedOnSignal()
{
    static std::atomic<const char*> path{nullptr};
    static_assert(std::atomic<const char*>::is_always_lock_free);
    return path;
}

extern "C" void removeThenEnd(int signal)
{
    // Only async-signal-safe calls: unlink, sigaction, raise.
    if (const char* const path = pathRemovedOnSignal().load()) {
        ::unlink(path);
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signal, &fallback, nullptr);
    // Held back until the handler returns, then it ends the program as it would have.
    ::raise(signal);
}

sigset_t guardedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

// Where a name leads through its symbolic links: the file there, or the one that would be made.
std::filesystem::path followLinks(std::filesystem::path path)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
            break;
        }
        const std::filesystem::path to = std::filesystem::read_symlink(path, error);
        if (error) {
            break;
        }
        path = to.is_absolute() ? to : path.parent_path() / to;
    }
    return path;
}

OutputError cannotWrite(const std::string& path, int error)
{
    return OutputError("cannot write " + path + ": " + std::strerror(error));
}

} // namespace

RemovedOnSignal::RemovedOnSignal()
{
    struct sigaction action {};
    action.sa_handler = removeThenEnd;
    action.sa_mask = guardedSignals();
    for (std::size_t k = 0; k < 3; ++k) {
        // A signal the program was started to ignore (nohup, a background job) stays ignored.
        if (::sigaction(kSignals[k], nullptr, &previous_[k]) == 0 &&
            previous_[k].sa_handler != SIG_IGN) {
            installed_[k] = ::sigaction(kSignals[k], &action, nullptr) == 0;
        }
    }
}

RemovedOnSignal::~RemovedOnSignal()
{
    pathRemovedOnSignal().store(nullptr);
    for (std::size_t k = 0; k < 3; ++k) {
        if (installed_[k]) {
            ::sigaction(kSignals[k], &previous_[k], nullptr);
        }
    }
}

void RemovedOnSignal::guard(const char* path)
{
    pathRemovedOnSignal().store(path);
}

RemovedOnSignal::Blocked::Blocked()
{
    const sigset_t set = guardedSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

RemovedOnSignal::Blocked::~Blocked()
{
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

OutputFile::OutputFile(const std::string& path) : path_(path)
{
    struct stat status {};
    mode_t mode = 0;
    if (::stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            throw cannotWrite(path, EISDIR);
        }
        if (!S_ISREG(status.st_mode)) {
            fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (fd_ < 0) {
                throw cannotWrite(path, errno);
            }
            return;
        }
        // A file the user may not write is refused, as a shell's redirection would refuse it,
        // though the folder would let it be replaced.
        target_ = followLinks(path).string();
        if (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
            throw cannotWrite(path, errno);
        }
        mode = status.st_mode & 07777;
    } else if (errno == ENOENT && !path.ends_with('/')) {
        target_ = followLinks(path).string();
        // A new file gets the usual mode less the umask, as the shell would give it.
        mode = ::umask(0);
        ::umask(mode);
        mode = 0666 & ~mode;
    } else {
        throw cannotWrite(path, errno == ENOENT ? EISDIR : errno);
    }

    const std::filesystem::path target(target_);
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    {
        // Made and guarded with the signals held back: none may fall between the two.
        const RemovedOnSignal::Blocked blocked;
        fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd_ < 0) {
            throw cannotWrite(path, errno);
        }
        temp_ = std::move(temp);
        removal_.guard(temp_.c_str());
    }
    ::fchmod(fd_, mode);
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!temp_.empty()) {
        const RemovedOnSignal::Blocked blocked;
        ::unlink(temp_.c_str());
        removal_.guard(nullptr);
    }
}

void OutputFile::commit()
{
    if (temp_.empty()) {
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        if (!closed) {
            throw OutputError("writing " + path_ + " failed: " + std::strerror(errno));
        }
        return;
    }
    const bool synced = ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    int error = errno;
    if (synced && closed) {
        // Renamed and no longer guarded with the signals held back: a signal between the two
        // would remove nothing, or a file of the same name made since.
        const RemovedOnSignal::Blocked blocked;
        if (::rename(temp_.c_str(), target_.c_str()) == 0) {
            removal_.guard(nullptr);
            temp_.clear();
            return;
        }
        error = errno;
    }
    throw OutputError("writing " + path_ + " failed: " + std::strerror(error));
}

} // namespace kestrum::survey
