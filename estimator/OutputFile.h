// Where -o sends the output. A regular file, new or existing, reached directly or through symbolic
// links, is written whole or not at all: rows go to a temporary file beside it that takes its place
// only once the run has written everything. Anything else that can be written (a FIFO, a terminal,
// /dev/null) is written straight into, as a shell's redirection would: replacing it with a file
// would break whatever reads it.
#pragma once

#include <signal.h>

#include <string>

namespace kestrum::survey {

// While it lives, SIGINT, SIGTERM and SIGHUP first remove the file it is given (if any), then end
// the program as they would have, so that the caller sees the signal. Signals the program was
// started to ignore stay ignored.
class RemovedOnSignal {
public:
    RemovedOnSignal();
    ~RemovedOnSignal();
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

    // The file a signal removes from now on; nullptr for none. The text must outlive the guard or
    // the next call. Called with the three signals blocked, so that none falls between making or
    // renaming the file and this.
    void guard(const char* path);

    // Holds the three signals back in this thread for its lifetime; a signal that came meanwhile
    // is acted on at the end.
    class Blocked {
    public:
        Blocked();
        ~Blocked();
        Blocked(const Blocked&) = delete;
        Blocked& operator=(const Blocked&) = delete;

    private:
        sigset_t previous_;
    };

private:
    struct sigaction previous_[3];
    bool installed_[3] = {};
};

class OutputFile {
public:
    // Throws OutputError when path is a folder, names a regular file the user may not write, or
    // cannot be opened or made.
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }

    // Puts the file in place (or closes what is written straight into). Throws OutputError when
    // that fails; the old file stays then.
    void commit();

private:
    std::string path_;   // as given, for messages
    std::string target_; // the regular file replaced: path_ with its links followed
    std::string temp_;   // beside target_; empty when writing straight into path_
    int fd_ = -1;
    RemovedOnSignal removal_;
};

} // namespace kestrum::survey
