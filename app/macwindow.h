#pragma once

#include <QtGlobal>

class QWindow;

// The Mac's main window look: the content reaches the top edge under a transparent title bar with
// no title, the traffic-light buttons stay, and the window still moves by that top strip and
// resizes by its edges. Elsewhere the window manager's decoration stays as it is.
#ifdef Q_OS_MACOS
void extendContentUnderTitleBar(QWindow *window);
#else
inline void extendContentUnderTitleBar(QWindow *) {}
#endif
