#pragma once

#include <QIcon>

// The application's own picture (a hovering kestrel): main window, About box, task bar. The
// same picture is src/res/kestrel.png, which the desktop entry names.
QIcon ApplicationIcon();
