#pragma once

#include "standin/httpserver.h"
#include "standin/servicestore.h"

#include <QJsonObject>
#include <QObject>

#include <memory>
#include <optional>

// A stand-in for the Dravlin web service: the recommended-models document, sign-in with a one-time
// code, the account and its credit, cloud generations replayed from recorded drawings, publishing,
// favourites, the version document, and a gallery of what was published. Its state lives in an
// SQLite file, so a restart keeps users, balances, drawings and favourites.
class ServiceServer : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString databasePath;
        double tokensPerSecond = 120;
        double startingCredits = 1.0; // a new account's balance, in dollars
        QString latestVersion = QStringLiteral("0.1.0");
    };

    explicit ServiceServer(Options options, QObject *parent = nullptr);

    // False with a reason when the database cannot be opened.
    bool ready(QString *why) const;
    bool listen(quint16 port) { return m_http.listen(port); }
    void setLogging(bool on) { m_http.setLogging(on); }
    QUrl url() const { return m_http.url(); }

private:
    void handle(const HttpRequest &request, HttpResponder *responder);
    std::optional<ServiceStore::User> authorised(const HttpRequest &request, HttpResponder *responder);

    void signInPage(const HttpRequest &request, HttpResponder *responder);
    void signInForm(const HttpRequest &request, HttpResponder *responder);
    void exchange(const HttpRequest &request, HttpResponder *responder);
    void generate(const HttpRequest &request, HttpResponder *responder);
    void publish(const HttpRequest &request, HttpResponder *responder);
    void favorites(const HttpRequest &request, HttpResponder *responder);
    void gallery(const QString &title, const QList<ServiceStore::Drawing> &drawings,
                 HttpResponder *responder);
    void drawingPage(qint64 id, HttpResponder *responder);
    void drawingImage(qint64 id, HttpResponder *responder);
    void modelsPage(HttpResponder *responder);

    QString drawingURL(qint64 id) const;
    std::optional<QJsonObject> cloudModel(const QString &id) const;

    Options m_options;
    QJsonObject m_catalog;
    std::unique_ptr<ServiceStore> m_store;
    HttpServer m_http;
};
