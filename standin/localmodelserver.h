#pragma once

#include "standin/httpserver.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// A stand-in for the local model server: it speaks the same HTTP API, lists models, replays
// recorded drawings at a model's pace, and pretends to download models. It thinks of nothing.
// Some listed models misbehave on purpose, each in one way that a real server or network can:
//   faulty:cut      the reply ends normally half-way through the drawing
//   faulty:stall    the reply stops half-way and the connection stays open, silent
//   faulty:drop     the connection is dropped half-way
//   faulty:garbage  a line half-way is not JSON (a proxy's error page)
//   faulty:error    the server reports an error half-way, as it does when the model crashes
//   faulty:500      the request is refused with HTTP 500
class LocalModelServer : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        double tokensPerSecond = 120;
        int pullMs = 4000; // how long a download takes
    };

    explicit LocalModelServer(Options options, QObject *parent = nullptr);

    bool listen(quint16 port) { return m_http.listen(port); }
    void setLogging(bool on) { m_http.setLogging(on); }
    QUrl url() const { return m_http.url(); }
    QStringList installedNames() const;

    static QStringList faultNames();

private:
    struct Model
    {
        QJsonObject entry; // as the registry describes it
        QDateTime modified;
    };

    void handle(const HttpRequest &request, HttpResponder *responder);
    void chat(const HttpRequest &request, HttpResponder *responder);
    void pull(const HttpRequest &request, HttpResponder *responder);
    void remove(const HttpRequest &request, HttpResponder *responder);
    QJsonObject tags() const;
    qsizetype installedIndex(const QString &name) const;
    void install(const QJsonObject &entry);

    Options m_options;
    HttpServer m_http;
    QList<QJsonObject> m_registry; // every model that can be downloaded
    QList<Model> m_installed;
};
