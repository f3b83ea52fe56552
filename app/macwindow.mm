#include "app/macwindow.h"

#include <QWindow>

#import <AppKit/AppKit.h>

void extendContentUnderTitleBar(QWindow *window)
{
    if (!window)
        return;
    // On the Mac a QWindow's native handle is its NSView (asking for it creates the native window).
    NSView *view = reinterpret_cast<NSView *>(window->winId());
    NSWindow *native = view.window;
    if (!native)
        return;
    // Qt keeps this style flag when it recomputes the window's style for later flag changes.
    native.styleMask |= NSWindowStyleMaskFullSizeContentView;
    native.titlebarAppearsTransparent = YES;
    native.titleVisibility = NSWindowTitleHidden;
    // The transparent title bar strip still moves the window; anywhere else a drag belongs to the
    // content (selecting, scrolling, dropping an image), so the background must not move it.
    native.movableByWindowBackground = NO;
}
