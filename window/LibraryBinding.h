// The estimation library, bound by name at the first estimate and kept loaded from then on.
#pragma once

#include <QLibrary>
#include <QString>

#include "kestrum.h"

namespace kestrum {

class LibraryBinding {
public:
    // name: the library's base name ("Kestrum") or a path to it; a bare name is looked for next to
    // the executable first, then where the system looks.
    explicit LibraryBinding(QString name = QStringLiteral("Kestrum"));
    ~LibraryBinding() = default;
    LibraryBinding(const LibraryBinding&) = delete;
    LibraryBinding& operator=(const LibraryBinding&) = delete;

    // The entry point N_E04JYF, loading the library on the first call. nullptr when the library
    // cannot be loaded or lacks the export; error() then says why, and the next call tries again.
    KestrumN_E04JYF entryPoint();
    const QString& error() const { return error_; }

private:
    bool load();
    bool fail(const QStringList& reasons); // sets error() from the places tried; false

    QString name_;
    QLibrary library_;
    KestrumN_E04JYF entryPoint_ = nullptr;
    QString error_;
};

} // namespace kestrum
