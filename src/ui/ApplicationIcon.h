#pragma once

#include <QIcon>
#include <QImage>

namespace kvq::ui {

// The program's icon: an antenna panel on its mast, its beam tilted down with
// the tilt arc. Drawn in code, at the usual icon sizes.
QIcon ApplicationIcon();
QImage ApplicationIconImage(int size);

}  // namespace kvq::ui
