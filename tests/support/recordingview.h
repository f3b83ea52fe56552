#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

// Stands in for the web view: records every script the canvas controller evaluates, in order.
class RecordingView : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    Q_INVOKABLE void runJavaScript(const QString &script)
    {
        ++count;
        if (keepScripts)
            scripts.append(script);
        if (onScript)
            onScript(script);
    }

    QStringList scripts;
    qint64 count = 0;
    bool keepScripts = true;
    std::function<void(const QString &)> onScript;
};
