#include "PlotterLoader.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace kestrum::survey {

namespace {

using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

// Why the file cannot be a whole shared object for this machine; empty when its headers and every
// part they point to lie within the file. (It cannot tell damage inside those parts.)
std::string damage(const std::filesystem::path& module)
{
    const int fd = ::open(module.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {}; // the loader says why it cannot be opened
    }
    struct Closed {
        int fd;
        ~Closed() { ::close(fd); }
    } closed{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return {};
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    const auto readAt = [fd](void* into, std::size_t bytes, std::uint64_t at) {
        return ::pread(fd, into, bytes, static_cast<off_t>(at)) == static_cast<ssize_t>(bytes);
    };
    // Offset + count x entry within the file, without overflow.
    const auto within = [size](std::uint64_t offset, std::uint64_t count, std::uint64_t entry) {
        return offset <= size && (entry == 0 || count <= (size - offset) / entry);
    };

    Header header{};
    if (!readAt(&header, sizeof header, 0)) {
        return "it is " + std::to_string(size) + " bytes, shorter than the header of a library";
    }
    const unsigned char* const id = header.e_ident;
    if (id[EI_MAG0] != ELFMAG0 || id[EI_MAG1] != ELFMAG1 || id[EI_MAG2] != ELFMAG2 ||
        id[EI_MAG3] != ELFMAG3) {
        return "it is not a library (no ELF header)";
    }
    const unsigned char ownClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    if (id[EI_CLASS] != ownClass || header.e_type != ET_DYN ||
        header.e_phentsize != sizeof(ProgramHeader)) {
        return "it is not a library for this machine";
    }
    if (!within(header.e_phoff, header.e_phnum, header.e_phentsize) ||
        !within(header.e_shoff, header.e_shnum, header.e_shentsize)) {
        return "it is cut short: " + std::to_string(size) + " bytes, less than its headers say";
    }
    for (std::uint16_t k = 0; k < header.e_phnum; ++k) {
        ProgramHeader segment{};
        if (!readAt(&segment, sizeof segment, header.e_phoff + std::uint64_t{k} * sizeof segment)) {
            return "its program headers cannot be read";
        }
        // Mapping a segment that runs past the end of the file kills the program with SIGBUS at
        // the first touch of the missing pages.
        if (segment.p_filesz > 0 && !within(segment.p_offset, 1, segment.p_filesz)) {
            return "it is cut short: " + std::to_string(size) + " bytes, where its parts run to " +
                   std::to_string(segment.p_offset + segment.p_filesz);
        }
    }
    return {};
}

} // namespace

std::unique_ptr<Plotter> loadPlotter()
{
    // Beside the program, whatever the working folder, as built; else where it is installed.
    const std::filesystem::path bin = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::filesystem::path module = bin / kPlotModule;
    if (!std::filesystem::exists(module)) {
        module = (bin / KESTRUM_INSTALLED_PLOT_MODULE_DIR / kPlotModule).lexically_normal();
    }
    if (const std::string why = damage(module); !why.empty()) {
        throw std::runtime_error("cannot load the plotting part " + module.string() +
                                 ": the file is damaged (" + why +
                                 "); build or install kestrum again");
    }
    // Never unloaded: Qt, once loaded, is not made to be taken out of a running program.
    void* const handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    using Make = void (*)(std::unique_ptr<Plotter>&);
    const auto make = handle != nullptr
                          ? reinterpret_cast<Make>(::dlsym(handle, "kestrum_survey_plotter"))
                          : nullptr;
    if (make == nullptr) {
        const char* const why = ::dlerror();
        throw std::runtime_error("cannot load the plotting part " + module.string() + ": " +
                                 (why != nullptr ? why : "no entry point"));
    }
    std::unique_ptr<Plotter> plotter;
    make(plotter);
    return plotter;
}

} // namespace kestrum::survey
