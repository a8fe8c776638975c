// Binds the estimation library as the window does, by its bare name from a folder without a copy
// beside it, and prints the file the entry point came from.
#include <dlfcn.h>

#include <QCoreApplication>

#include <cstdio>

#include "LibraryBinding.h"

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    kestrum::LibraryBinding binding;
    const KestrumN_E04JYF entryPoint = binding.entryPoint();
    if (entryPoint == nullptr) {
        std::fprintf(stderr, "%s\n", qPrintable(binding.error()));
        return 1;
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(entryPoint), &info) == 0 || info.dli_fname == nullptr) {
        std::fprintf(stderr, "dladdr found no file for N_E04JYF\n");
        return 1;
    }
    std::printf("%s\n", info.dli_fname);
    return 0;
}
