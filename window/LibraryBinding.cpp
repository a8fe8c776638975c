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
    // A path is loaded as it stands. A bare name is looked for beside the program first, then on
    // the system's library path by the versioned name that a run-time install provides (the plain
    // libKestrum.so is a development link that need not be there). Each place is tried by its
    // exact file name: QLibrary left to guess would try decorated names ("liblibKestrum.so") and
    // report the last of them, which tells the user nothing.
    constexpr int kSoVersion = 1; // the library's SOVERSION
    QStringList reasons;
    const auto tryFile = [this, &reasons](const QString& file, const QString& where) {
        library_.setFileName(file);
        if (library_.load()) {
            return true;
        }
        reasons << where + QStringLiteral(": ") + library_.errorString();
        return false;
    };
    if (name_.contains(QLatin1Char('/'))) {
        if (QFileInfo::exists(name_)) {
            return tryFile(name_, name_) || fail(reasons);
        }
        reasons << QStringLiteral("There is no file %1.").arg(name_);
        return fail(reasons);
    }
#if defined(Q_OS_WIN)
    const QString fileName = name_ + QStringLiteral(".dll");
    const QString versioned = fileName;
#elif defined(Q_OS_MACOS)
    const QString fileName = QStringLiteral("lib") + name_ + QStringLiteral(".dylib");
    const QString versioned =
        QStringLiteral("lib%1.%2.dylib").arg(name_, QString::number(kSoVersion));
#else
    const QString fileName = QStringLiteral("lib") + name_ + QStringLiteral(".so");
    const QString versioned = fileName + QStringLiteral(".") + QString::number(kSoVersion);
#endif
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(fileName);
    if (QFileInfo::exists(beside)) {
        if (tryFile(beside, beside)) {
            return true;
        }
    } else {
        reasons << QStringLiteral("It is not beside the program (%1).").arg(beside);
    }
    // Found by the system's loader alone, without a folder, and so without QLibrary's guesses.
    library_.setFileName(versioned);
    library_.setLoadHints(QLibrary::LoadHints());
    if (library_.load()) {
        return true;
    }
    reasons << QStringLiteral("It is not on the system's library path as %1 (install the "
                              "package, or put the library beside the program).")
                   .arg(versioned);
    return fail(reasons);
}

bool LibraryBinding::fail(const QStringList& reasons)
{
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
