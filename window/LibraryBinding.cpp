#include "LibraryBinding.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kestrum {

LibraryBinding::LibraryBinding(QString name) : name_(std::move(name)) {}

bool LibraryBinding::load()
{
    if (library_.isLoaded()) {
        return true;
    }
    // The system's library path is searched first by the versioned name that a run-time install
    // provides: the plain libKestrum.so is a development link that need not be there.
    constexpr int kSoVersion = 1; // the library's SOVERSION
    QList<std::pair<QString, int>> candidates;
    if (!name_.contains(QLatin1Char('/'))) {
        // Spelled out in full: the program itself bears the library's base name, and QLibrary
        // would try to load the executable first.
#if defined(Q_OS_WIN)
        const QString fileName = name_ + QStringLiteral(".dll");
#elif defined(Q_OS_MACOS)
        const QString fileName = QStringLiteral("lib") + name_ + QStringLiteral(".dylib");
#else
        const QString fileName = QStringLiteral("lib") + name_ + QStringLiteral(".so");
#endif
        candidates.append({QDir(QCoreApplication::applicationDirPath()).filePath(fileName), -1});
        candidates.append({name_, kSoVersion});
    }
    candidates.append({name_, -1});
    QStringList reasons;
    for (const auto& [candidate, version] : candidates) {
        library_.setFileNameAndVersion(candidate, version);
        if (library_.load()) {
            return true;
        }
        reasons << library_.errorString();
    }
    error_ = QStringLiteral("The estimation library \"%1\" could not be loaded.\n\n%2")
                 .arg(name_, reasons.join(QLatin1Char('\n')));
    return false;
}

KestrumN_E04JYF LibraryBinding::entryPoint()
{
    if (entryPoint_ != nullptr) {
        return entryPoint_;
    }
    error_.clear();
    if (!load()) {
        return nullptr;
    }
    entryPoint_ = reinterpret_cast<KestrumN_E04JYF>(library_.resolve("N_E04JYF"));
    if (entryPoint_ == nullptr) {
        error_ = QStringLiteral("The estimation library \"%1\" has no entry point N_E04JYF.\n\n%2")
                     .arg(QFileInfo(library_.fileName()).fileName(), library_.errorString());
        // Let a corrected library be picked up by the next estimate.
        library_.unload();
    }
    return entryPoint_;
}

} // namespace kestrum
