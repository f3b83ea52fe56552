#pragma once

#include "account/keychain.h"
#include "account/preferences.h"
#include "account/serviceclient.h"
#include "fakehttpserver.h"
#include "session/drawsession.h"

#include <QSignalSpy>

// A session whose local server and service are one fake server, with a fresh preferences store
// and an in-memory secret store.
struct ModelsHarness
{
    FakeHttpServer server;
    // The application's downloads, as every window of a test shares them.
    Downloads downloads;
    DrawSession *session = nullptr;

    explicit ModelsHarness(int installPollMs = 5000)
    {
        Keychain::useInMemoryStoreForTesting();
        Preferences::remove(QStringLiteral("DravlinEnabledCloud"));
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), server.url().toString());
        ServiceClient::resetBaseURLForTesting();
        downloads.client()->setBase(server.url());
        downloads.setInstallPollIntervalMs(installPollMs);
        session = newWindowSession();
    }
    ~ModelsHarness() { delete session; }

    // Another window's session, on the same servers and downloads.
    DrawSession *newWindowSession()
    {
        auto *made = new DrawSession(&downloads);
        made->client()->setBase(server.url());
        return made;
    }

    void installed(const QByteArray &modelsJson)
    {
        server.route("GET", "/api/tags", FakeResponse::json(200, R"({"models":)" + modelsJson + "}"));
    }

    void catalog(const QByteArray &json)
    {
        server.route("GET", "/api/v1/recommended_models", FakeResponse::json(200, json));
    }

    bool refreshModels()
    {
        QSignalSpy done(session, &DrawSession::modelsRefreshed);
        session->refreshModels();
        return done.wait(20000);
    }

    bool refreshRecommended()
    {
        QSignalSpy done(session, &DrawSession::recommendedRefreshed);
        session->refreshRecommended();
        return done.wait(20000);
    }

    int requestsTo(const QByteArray &method, const QByteArray &path) const
    {
        int count = 0;
        for (const RecordedRequest &request : server.requests())
            count += (request.method == method && request.path == path) ? 1 : 0;
        return count;
    }

    // Waits until the server has seen that many requests to method and path.
    bool waitForRequests(const QByteArray &method, const QByteArray &path, int count)
    {
        QSignalSpy received(&server, &FakeHttpServer::requestReceived);
        while (requestsTo(method, path) < count) {
            if (!received.wait(20000))
                return false;
        }
        return true;
    }
};

inline QStringList modelNames(const QList<OllamaModel> &models)
{
    QStringList names;
    for (const OllamaModel &model : models)
        names.append(model.name);
    return names;
}

inline QStringList recommendedNames(const QList<RecommendedModel> &models)
{
    QStringList names;
    for (const RecommendedModel &model : models)
        names.append(model.name);
    return names;
}
