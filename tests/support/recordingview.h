#pragma once

#include <QMetaObject>
#include <QObject>
#include <QStringList>
#include <QVariant>

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

    // A question to the page: answered on a later turn, as the page would, with onQuery's answer
    // (none: an invalid one, as from a page that is gone).
    Q_INVOKABLE void query(const QVariant &script, const QVariant &ticket)
    {
        const QVariant answer = onQuery ? onQuery(script.toString()) : QVariant();
        QMetaObject::invokeMethod(answerTo, "deliverQueryResult", Qt::QueuedConnection,
                                  Q_ARG(int, ticket.toInt()), Q_ARG(QVariant, answer));
    }

    QStringList scripts;
    qint64 count = 0;
    bool keepScripts = true;
    std::function<void(const QString &)> onScript;
    std::function<QVariant(const QString &)> onQuery;
    QObject *answerTo = nullptr;
};
