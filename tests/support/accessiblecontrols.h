#pragma once

#include "ui/contentcontroller.h"

#include <QAccessible>
#include <QDir>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <functional>

// Reaching the window's controls the way a screen reader does: by role and name.

// The first accessible object below node, depth first, with that role and a name that matches;
// hidden subtrees are skipped unless asked for.
inline QAccessibleInterface *findAccessible(QAccessibleInterface *node,
                                            const std::function<bool(const QString &)> &matches,
                                            QAccessible::Role role, bool shownOnly = true)
{
    if (!node || (shownOnly && node->state().invisible))
        return nullptr;
    if (node->role() == role && matches(node->text(QAccessible::Name)))
        return node;
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface *found = findAccessible(node->child(i), matches, role, shownOnly))
            return found;
    }
    return nullptr;
}

// The shown control of the window with that role and exactly that name.
inline QAccessibleInterface *findAccessible(QQuickWindow *window, const QString &name,
                                            QAccessible::Role role = QAccessible::Button)
{
    return findAccessible(
        QAccessible::queryAccessibleInterface(window), [&](const QString &text) { return text == name; },
        role);
}

// Presses a control through its accessible action, as assistive technology would.
inline bool press(QAccessibleInterface *control)
{
    if (!control || !control->actionInterface())
        return false;
    control->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    return true;
}

// Does what closes object (a window, an alert) and waits until it is gone; false when it stays.
inline bool goneAfter(QObject *object, const std::function<void()> &close)
{
    QSignalSpy gone(object, &QObject::destroyed);
    close();
    return !gone.isEmpty() || gone.wait();
}

// An alert as "message|informative text|buttons", the buttons joined by commas.
inline QString alertText(const QObject *alert)
{
    return alert->property("message").toString() + '|' + alert->property("informative").toString() + '|' +
           alert->property("buttons").toStringList().join(',');
}

// Waits until the control is shown, then presses it.
inline bool pressWhenShown(QQuickWindow *window, const QString &name,
                           QAccessible::Role role = QAccessible::Button, int timeoutMs = 5000)
{
    return QTest::qWaitFor([&] { return findAccessible(window, name, role) != nullptr; }, timeoutMs) &&
           press(findAccessible(window, name, role));
}

inline ContentController *contentOf(QQuickWindow *window)
{
    return window ? window->property("content").value<ContentController *>() : nullptr;
}

// The canvas's view is made after the window's first frame; false until it is there and loaded.
inline bool canvasLoaded(QQuickWindow *window)
{
    const QObject *view = window ? window->findChild<QObject *>(QStringLiteral("canvas")) : nullptr;
    return view && view->property("loadProgress").toInt() == 100 && !view->property("loading").toBool();
}

// With DRAVLIN_SCREENSHOTS set to a folder, the window as it is now goes there as name.png.
inline void screenshot(QQuickWindow *window, const QString &name)
{
    const QString folder = qEnvironmentVariable("DRAVLIN_SCREENSHOTS");
    if (!folder.isEmpty())
        window->grabWindow().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}
