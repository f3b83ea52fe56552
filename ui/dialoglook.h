#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <QQuickItem>

// Where the desktop offers no file dialog of its own, Qt Quick draws one inside the window. It
// takes the window's dark palette, except for its folder bar, whose background Qt leaves white:
// white names on white. This gives that bar the palette's own colours once the dialog is open.
class DialogLook : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // Fits every in-window file dialog of item's window to the window's palette; returns how many
    // folder bars it changed (none when the desktop's own dialog is in use).
    Q_INVOKABLE static int fit(QQuickItem *item);
    // The same once the dialog just opened from item's window is on screen.
    Q_INVOKABLE static void fitWhenShown(QQuickItem *item);
};
