#include "ui/dialoglook.h"

#include <QColor>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <functional>
#include <memory>

namespace {
bool isFolderBar(const QObject *object)
{
    return object->inherits("QQuickFolderBreadcrumbBar");
}

int fitBelow(QQuickItem *item, const QColor &base, const QColor &border)
{
    int changed = 0;
    if (isFolderBar(item)) {
        if (auto *background = item->property("background").value<QQuickItem *>()) {
            background->setProperty("color", base);
            if (QObject *edge = background->property("border").value<QObject *>())
                edge->setProperty("color", border);
            ++changed;
        }
    }
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children)
        changed += fitBelow(child, base, border);
    return changed;
}
} // namespace

int DialogLook::fit(QQuickItem *item)
{
    QQuickWindow *window = item ? item->window() : nullptr;
    if (!window || !window->contentItem())
        return 0;
    // The colours the window's controls use (its palette is a Qt Quick palette object).
    const QObject *palette = window->property("palette").value<QObject *>();
    const QColor base = palette ? palette->property("base").value<QColor>() : QColor();
    const QColor border = palette ? palette->property("mid").value<QColor>() : QColor();
    if (!base.isValid())
        return 0;
    return fitBelow(window->contentItem(), base, border);
}

void DialogLook::fitWhenShown(QQuickItem *item)
{
    // The dialog is built and shown over the next frames; a desktop's own dialog never shows here,
    // so the looking stops after a while.
    auto attempt = std::make_shared<std::function<void(int)>>();
    *attempt = [item = QPointer<QQuickItem>(item), attempt](int left) {
        if (!item || fit(item) > 0 || left == 0)
            return;
        QTimer::singleShot(16, item, [attempt, left] { (*attempt)(left - 1); });
    };
    (*attempt)(60);
}
