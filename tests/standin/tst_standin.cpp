#include "account/dravlinaccount.h"
#include "account/keychain.h"
#include "account/serviceclient.h"
#include "models/ollamaclient.h"
#include "session/prompts.h"
#include "session/svgextract.h"
#include "standin/httpserver.h"
#include "standin/localmodelserver.h"
#include "standin/serviceserver.h"
#include "testenvironment.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <memory>

namespace {
constexpr int kWaitMs = 20000;
const ReferenceData kImage{QStringLiteral("iVBORw0KGgo="), QStringLiteral("image/png")};
} // namespace

// The stand-ins driven by the app's own clients: whatever they send must be what the app reads.
// The whole app against them (a drawing, each fault, a download, sign-in and a cloud drawing) is
// the end-to-end test's; here is what it does not reach.
class TestStandIns : public QObject
{
    Q_OBJECT
    DRAVLIN_TEST_INIT_MAIN

    QTemporaryDir m_dir;
    std::unique_ptr<LocalModelServer> m_local;
    std::unique_ptr<ServiceServer> m_service;
    std::unique_ptr<OllamaClient> m_client;
    std::unique_ptr<DravlinAccount> m_account;

    void startService()
    {
        ServiceServer::Options options;
        options.databasePath = m_dir.filePath(QStringLiteral("service.sqlite"));
        options.tokensPerSecond = 5000;
        m_service = std::make_unique<ServiceServer>(options);
        QVERIFY(m_service->ready(nullptr) && m_service->listen(0));
        useService(m_service->url());
    }

    // What a request of the app's clients ended with: the first value its finished signal carried.
    template<typename Value, typename Job, typename... Args>
    Value ending(Job *job, void (Job::*finished)(Args...))
    {
        QSignalSpy spy(job, finished);
        const bool ended = spy.wait(kWaitMs);
        job->disconnect();
        job->deleteLater();
        [&] {
            QVERIFY2(ended, "no answer");
        }();
        return ended ? spy.first().first().template value<Value>() : Value();
    }

    std::optional<double> balance()
    {
        QSignalSpy refreshed(m_account.get(), &DravlinAccount::creditsRefreshed);
        m_account->refreshCredits();
        return refreshed.wait(kWaitMs) ? m_account->credits() : std::nullopt;
    }

    // A page of the service as a browser gets it, or with form the sign-in form posted.
    QByteArray page(const QString &path, QByteArray *location = nullptr, const QByteArray &form = {})
    {
        QNetworkAccessManager network;
        QUrl url = ServiceClient::endpoint(path.section(QLatin1Char('?'), 0, 0));
        url.setQuery(path.section(QLatin1Char('?'), 1), QUrl::StrictMode);
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded"));
        QNetworkReply *reply = form.isEmpty() ? network.get(request) : network.post(request, form);
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), kWaitMs);
        }();
        if (location)
            *location = reply->rawHeader("Location");
        reply->deleteLater();
        return reply->readAll();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Keychain::useInMemoryStoreForTesting();
        LocalModelServer::Options options;
        options.tokensPerSecond = 5000;
        options.pullMs = 400;
        m_local = std::make_unique<LocalModelServer>(options);
        QVERIFY(m_local->listen(0));
        m_client = std::make_unique<OllamaClient>(nullptr, m_local->url());
        startService();
        m_account = std::make_unique<DravlinAccount>();
    }

    // How each model's reply ends, as the app's chat stream reads it: the words of the server's
    // refusal, and whether a closed drawing came, or at least the beginning of one before a fault.
    // The faults that only cut the reply short are the end-to-end test's.
    void chatEndsAsTheAppExpects_data()
    {
        columns<QString, bool, QString, QString>("model", "withImage", "error", "drawing");
        const auto row = [](const char *model, bool withImage, const char *error, const char *drawing,
                            const char *tag) {
            QTest::newRow(tag) << QString(model) << withImage << QString(error) << QString(drawing);
        };
        row("llava:7b", true, "", "closed", "the vision model recreates an image");
        row("qwen3:4b", true, "image input", "none", "an image to a model without vision");
        row("nope:1b", false, "model 'nope:1b' not found", "none", "an unknown model");
        row("faulty:garbage", false, "", "closed", "a line that is not JSON is skipped");
        row("faulty:error", false, "while running the model", "partial", "an error line mid-stream");
        row("faulty:500", false, "more system memory", "none", "HTTP 500");
    }
    void chatEndsAsTheAppExpects()
    {
        QFETCH(QString, model);
        QFETCH(bool, withImage);
        QFETCH(QString, error);
        const QString prompt = QStringLiteral("a lighthouse at sunset");
        ChatStream *stream = m_client->streamChat(
            model, withImage ? Prompts::recreateMessages(prompt, kImage) : Prompts::drawMessages(prompt),
            this);
        QString answer;
        connect(stream, &ChatStream::element, stream,
                [&](const ChatElement &element) { answer += element.content.value_or(QString()); });
        const auto failed = ending<std::optional<OllamaError>>(stream, &ChatStream::finished);
        QCOMPARE(failed.has_value(), !error.isEmpty());
        if (failed) {
            QCOMPARE(failed->kind(), OllamaError::Kind::BadResponse);
            QVERIFY2(failed->message().contains(error), qPrintable(failed->message()));
        }
        const std::optional<QString> closed = SvgExtract::closed(answer);
        QTEST(QString(closed && closed->size() > 2000 ? "closed"
                      : SvgExtract::openEnded(answer) ? "partial"
                                                      : "none"),
              "drawing");
    }

    // Whatever a client sends is bounded: the head, the body, its framing, and the connections.
    void serversBoundWhatTheyAccept_data()
    {
        columns<QByteArray, QByteArray>("request", "status");
        QTest::newRow("a body over the limit")
            << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 101\r\n\r\n") << QByteArray("413");
        QTest::newRow("a head over the limit") << QByteArray(300, 'a') << QByteArray("431");
        QTest::newRow("a chunked body")
            << QByteArray("POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") << QByteArray("411");
        QTest::newRow("a connection over the limit") << QByteArray() << QByteArray("503");
        const auto asked = [](const char *headers) {
            return QByteArray("GET /x HTTP/1.1\r\n") + headers + "\r\n";
        };
        QTest::newRow("from this machine") << asked("Host: 127.0.0.1:9\r\n") << QByteArray("200");
        QTest::newRow("by its name") << asked("Host: localhost\r\n") << QByteArray("200");
        QTest::newRow("a page of its own")
            << asked("Host: [::1]:9\r\nOrigin: http://127.0.0.1:9\r\n") << QByteArray("200");
        QTest::newRow("no host") << asked("") << QByteArray("403");
        QTest::newRow("a rebound name") << asked("Host: evil.example:9\r\n") << QByteArray("403");
        QTest::newRow("a look-alike name") << asked("Host: localhost.evil.example\r\n") << QByteArray("403");
        QTest::newRow("another site's page")
            << asked("Host: 127.0.0.1:9\r\nOrigin: https://evil.example\r\n") << QByteArray("403");
        QTest::newRow("an opaque page")
            << asked("Host: 127.0.0.1:9\r\nOrigin: null\r\n") << QByteArray("403");
    }
    void serversBoundWhatTheyAccept()
    {
        QFETCH(QByteArray, request);
        HttpServer server(
            [](const HttpRequest &, HttpResponder *responder) { responder->send(200, "text/plain", "ok"); },
            nullptr, HttpLimits{1, 200, 100, 30'000});
        QVERIFY(server.listen(0));
        QTcpSocket idle; // holds the one connection allowed
        idle.connectToHost(QHostAddress::LocalHost, server.url().port());
        QVERIFY(idle.waitForConnected(kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 1, kWaitMs);
        QTcpSocket extra;
        QTcpSocket &asking = request.isEmpty() ? extra : idle;
        if (request.isEmpty())
            extra.connectToHost(QHostAddress::LocalHost, server.url().port());
        else
            idle.write(request);
        QTRY_VERIFY_WITH_TIMEOUT(asking.canReadLine(), kWaitMs);
        QTEST(asking.readLine().mid(9, 3), "status");
    }

    // A download installs only when it runs to its end; an unknown name fails as the real server's does.
    void aDownloadInstallsOnlyWhenItRunsToItsEnd()
    {
        using Error = std::optional<OllamaError>;
        PullStream *cancelled = m_client->pull(QStringLiteral("gemma3:4b"), this);
        QVERIFY(QSignalSpy(cancelled, &PullStream::progress).wait(kWaitMs));
        cancelled->cancel();
        cancelled->deleteLater();
        QCOMPARE(ending<Error>(m_client->pull(QStringLiteral("phi4-mini:3.8b"), this), &PullStream::finished),
                 std::nullopt);
        // Both took equally long and the first began first: had it gone on, it would be installed.
        QVERIFY(m_local->installedNames().contains(QStringLiteral("phi4-mini:3.8b")));
        QVERIFY(!m_local->installedNames().contains(QStringLiteral("gemma3:4b")));
        QCOMPARE(ending<Error>(m_client->pull(QStringLiteral("nope:1b"), this), &PullStream::finished)
                     .value_or(OllamaError::other({}))
                     .message(),
                 QStringLiteral("pull model manifest: file does not exist"));
    }

    // Where the sign-in form sends name, with the challenge of the page it was opened as.
    QByteArray callbackFor(const char *name, const QUrl &start)
    {
        const QByteArray challenge = QUrlQuery(start).queryItemValue("code_challenge").toLatin1();
        QByteArray location;
        page(QStringLiteral("oauth/mac"), &location,
             "username=" + QByteArray(name) +
                 "&redirect_uri=dravlin-mac%3A%2F%2Fauth&code_challenge=" + challenge);
        return location;
    }

    // A code is good only in the sign-in that asked for it: the page demands a challenge, and
    // the exchange a verifier that answers it, so a code an attacker got for themselves and led
    // the app to is refused, as is one traded without proof. Both ends agree with the method's
    // published example.
    void aSignInProvesItStartedHere_data()
    {
        columns<QString, bool>("whose", "signedIn");
        QTest::newRow("its own code") << "own" << true;
        QTest::newRow("a code for another sign-in") << "another" << false;
        QTest::newRow("a code and no proof") << "none" << false;
    }
    void aSignInProvesItStartedHere()
    {
        QFETCH(QString, whose);
        QFETCH(bool, signedIn);
        const QString example = QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
        QCOMPARE(DravlinAccount::challengeFor(example),
                 QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
        QCOMPARE(ServiceStore::challengeFor(example), DravlinAccount::challengeFor(example));
        QVERIFY(page(QStringLiteral("oauth/mac?redirect_uri=dravlin-mac://auth"))
                    .contains("Sign-in link not valid"));

        DravlinAccount victim;
        DravlinAccount attacker;
        const QUrl start = victim.startSignIn();
        QVERIFY(page(start.path().mid(1) + '?' + start.query())
                    .contains(QUrlQuery(start).queryItemValue("code_challenge").toLatin1()));
        const QByteArray callback =
            whose == "own" ? callbackFor("ada", start) : callbackFor("mallory", attacker.startSignIn());
        QVERIFY(callback.startsWith("dravlin-mac://auth?code="));
        DravlinAccount stranger;
        DravlinAccount &completing = whose == "none" ? stranger : victim;
        QSignalSpy finished(&completing, &DravlinAccount::signInFinished);
        completing.completeSignIn(QUrl::fromEncoded(callback));
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(completing.signedIn(), signedIn);
        QCOMPARE(completing.username(), signedIn ? std::optional<QString>("ada") : std::nullopt);
        if (!signedIn)
            QCOMPARE(completing.authError(), std::optional<QString>(QString::fromUtf16(
                                                 u"Sign-in failed \u2014 couldn't exchange code.")));
        completing.signOut();
    }

    // One account through cloud drawings on credit and by key, a forged token, publishing and
    // favourites, and a restart that keeps it all.
    void serviceKeepsTheAccountAcrossARestart()
    {
        const QByteArray location = callbackFor("ada", m_account->startSignIn());
        QVERIFY(location.startsWith("dravlin-mac://auth?code="));
        QSignalSpy signedIn(m_account.get(), &DravlinAccount::signInFinished);
        m_account->completeSignIn(QUrl::fromEncoded(location));
        QVERIFY(signedIn.wait(kWaitMs));
        QCOMPARE(balance(), 1.0);
        Keychain::write(Keychain::openRouterKeyItem, QStringLiteral("sk-or-1"));
        const QString token = Keychain::value(QStringLiteral("api_token")).value();

        struct Case
        {
            const char *model;
            const char *payWith;
            bool withImage;
            const char *error; // nullptr: a finished, published drawing
            double balanceAfter;
            const char *token = nullptr; // instead of the signed-in one
        };
        for (const Case &c :
             {Case{"qwen/qwen3-235b-a22b", "credits", true, "can't see images", 1.0},
              Case{"anthropic/claude-opus-4", "credits", true, nullptr, 0.4},
              Case{"anthropic/claude-opus-4", "key", false, nullptr, 0.4},
              Case{"anthropic/claude-opus-4", "credits", false, "Not enough Dravlin Credit", 0.4},
              Case{"openai/gpt-4.1", "credits", false, "HTTP 401", 0.4, "dvl_forged"}}) {
            GenerationRequest request{"a sleeping fox curled up", c.model, "Model", c.payWith, std::nullopt};
            if (c.withImage)
                request.image = kImage;
            if (c.token)
                Keychain::write(QStringLiteral("api_token"), QString::fromLatin1(c.token));
            GenerationStream *stream = m_account->streamGeneration(request, this);
            QHash<QString, QString> member; // every event's texts, joined by member
            connect(stream, &GenerationStream::eventReceived, stream, [&](const QJsonObject &event) {
                for (auto it = event.begin(); it != event.end(); ++it)
                    member[it.key()] += it.value().toString();
            });
            const QString error =
                ending<std::optional<QString>>(stream, &GenerationStream::finished).value_or(member["error"]);
            Keychain::write(QStringLiteral("api_token"), token);
            if (c.error) {
                QVERIFY2(error.contains(QLatin1String(c.error)), qPrintable(error));
            } else {
                QVERIFY2(error.isEmpty(), qPrintable(error));
                QCOMPARE(SvgExtract::cloudRun(member["c"]), member["svg"]);
                QVERIFY(member["url"].startsWith(m_service->url().toString()));
            }
            QCOMPARE(balance(), c.balanceAfter);
        }

        PublishResult published;
        m_account->publish(
            {"<svg viewBox=\"0 0 1 1\"></svg>", "a dot", "qwen3:4b", "qwen3:4b", "local", 0, 1200, "A dot."},
            this, [&](const PublishResult &result) { published = result; });
        bool saved = false;
        m_account->saveFavorites({QStringLiteral("openai/gpt-4.1")}, this, [&] { saved = true; });
        QTRY_VERIFY_WITH_TIMEOUT(saved && (published.url.isValid() || published.error), kWaitMs);
        QVERIFY(published.url.isValid());

        m_service.reset();
        startService();
        QCOMPARE(balance(), 0.4);
        std::optional<std::optional<QStringList>> favorites;
        m_account->fetchFavorites(this, [&](const std::optional<QStringList> &ids) { favorites = ids; });
        QTRY_VERIFY_WITH_TIMEOUT(favorites, kWaitMs);
        QCOMPARE(*favorites, QStringList{QStringLiteral("openai/gpt-4.1")});
        // The gallery shows the drawings as images, never as inline markup.
        const QByteArray gallery = page(QStringLiteral("drawings"));
        QCOMPARE(gallery.count("<img src=\"/drawings/"), 3);
        QVERIFY(!gallery.contains("<svg"));
    }
};

QTEST_GUILESS_MAIN(TestStandIns)
#include "tst_standin.moc"
