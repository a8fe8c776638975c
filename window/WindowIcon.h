// The package's icon (packaging/kestrum.svg, built into the program) for every window, drawn at
// the sizes a desktop asks for.
#pragma once

#include <QIcon>

namespace kestrum {

QIcon kestrumIcon();

} // namespace kestrum
