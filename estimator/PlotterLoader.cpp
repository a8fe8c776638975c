#include "PlotterLoader.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace kestrum::survey {

std::unique_ptr<Plotter> loadPlotter()
{
    // Beside the program, whatever the working folder, as built; else where it is installed.
    const std::filesystem::path bin = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::filesystem::path module = bin / kPlotModule;
    if (!std::filesystem::exists(module)) {
        module = (bin / KESTRUM_INSTALLED_PLOT_MODULE_DIR / kPlotModule).lexically_normal();
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
