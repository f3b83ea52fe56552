#include "account/dravlinaccount.h"
#include "account/keychain.h"
#include "account/preferences.h"
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

#include <memory>

namespace {

constexpr int kWaitMs = 20000;
const ReferenceData kImage{QStringLiteral("iVBORw0KGgo="), QStringLiteral("image/png")};

struct ChatOutcome
{
    QString answer;
    std::optional<OllamaError> error;
};

struct GenerationOutcome
{
    QList<QJsonObject> events;
    std::optional<QString> failure;

    QString member(const QString &key) const
    {
        QString text;
        for (const QJsonObject &event : events)
            text += event.value(key).toString();
        return text;
    }
};

} // namespace

// The stand-ins driven by the app's own clients: whatever they send must be what the app reads.
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
        QVERIFY(m_service->ready(nullptr));
        QVERIFY(m_service->listen(0));
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), m_service->url().toString());
        ServiceClient::resetBaseURLForTesting();
    }

    ChatOutcome chat(const QString &model, const QJsonArray &messages)
    {
        ChatOutcome outcome;
        bool done = false;
        ChatStream *stream = m_client->streamChat(model, messages, this);
        connect(stream, &ChatStream::element, this,
                [&](const ChatElement &element) { outcome.answer += element.content.value_or(QString()); });
        connect(stream, &ChatStream::finished, this, [&](const std::optional<OllamaError> &error) {
            outcome.error = error;
            done = true;
        });
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(done, kWaitMs);
        }();
        stream->deleteLater();
        return outcome;
    }

    std::optional<OllamaError> pull(const QString &model, int *progressLines,
                                    bool cancelAtFirstProgress = false)
    {
        std::optional<OllamaError> result;
        bool done = false;
        PullStream *stream = m_client->pull(model, this);
        connect(stream, &PullStream::progress, this, [&, stream] {
            ++*progressLines;
            if (cancelAtFirstProgress && !done) {
                stream->cancel();
                done = true;
            }
        });
        connect(stream, &PullStream::finished, this, [&](const std::optional<OllamaError> &error) {
            result = error;
            done = true;
        });
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(done, kWaitMs);
        }();
        stream->deleteLater();
        return result;
    }

    QStringList installed()
    {
        QStringList names;
        bool done = false;
        ListModelsJob *job = m_client->listModels(this);
        connect(job, &ListModelsJob::finished, this, [&](const QList<OllamaModel> &models) {
            for (const OllamaModel &model : models)
                names.append(model.name);
            done = true;
        });
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(done, kWaitMs);
        }();
        job->deleteLater();
        return names;
    }

    std::optional<OllamaError> remove(const QString &model)
    {
        std::optional<OllamaError> result;
        bool done = false;
        DeleteModelJob *job = m_client->deleteModel(model, this);
        connect(job, &DeleteModelJob::finished, this, [&](const std::optional<OllamaError> &error) {
            result = error;
            done = true;
        });
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(done, kWaitMs);
        }();
        job->deleteLater();
        return result;
    }

    GenerationOutcome generate(const GenerationRequest &request)
    {
        GenerationOutcome outcome;
        bool done = false;
        GenerationStream *stream = m_account->streamGeneration(request, this);
        connect(stream, &GenerationStream::event, this,
                [&](const QJsonObject &event) { outcome.events.append(event); });
        connect(stream, &GenerationStream::finished, this, [&](const std::optional<QString> &failure) {
            outcome.failure = failure;
            done = true;
        });
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(done, kWaitMs);
        }();
        stream->deleteLater();
        return outcome;
    }

    std::optional<double> balance()
    {
        QSignalSpy refreshed(m_account.get(), &DravlinAccount::creditsRefreshed);
        m_account->refreshCredits();
        [&] {
            QVERIFY(refreshed.wait(kWaitMs));
        }();
        return m_account->credits();
    }

    QByteArray page(const QString &path, QByteArray *location = nullptr, const QByteArray &form = {})
    {
        QNetworkAccessManager network;
        QUrl url = ServiceClient::endpoint(path.section(QLatin1Char('?'), 0, 0));
        url.setQuery(path.section(QLatin1Char('?'), 1));
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded"));
        QNetworkReply *reply = form.isEmpty() ? network.get(request) : network.post(request, form);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        [&] {
            QVERIFY(finished.wait(kWaitMs));
        }();
        if (location)
            *location = reply->rawHeader("Location");
        reply->deleteLater();
        return reply->readAll();
    }

private slots:
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
        OllamaClient::Limits limits;
        limits.chatIdleMs = 1500; // how long the stalled model keeps the test waiting
        m_client->setLimits(limits);
        startService();
        m_account = std::make_unique<DravlinAccount>();
    }

    void chatEndsAsTheAppExpects_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("withImage");
        QTest::addColumn<bool>("closedDrawing");
        QTest::addColumn<int>("errorKind"); // -1: no error
        QTest::addColumn<QString>("errorText");
        const int none = -1;
        const int bad = int(OllamaError::Kind::BadResponse);
        const int other = int(OllamaError::Kind::Other);
        QTest::newRow("a thinking model draws") << "qwen3:4b" << false << true << none << QString();
        QTest::newRow("the vision model recreates an image")
            << "llava:7b" << true << true << none << QString();
        QTest::newRow("an image to a model without vision")
            << "qwen3:4b" << true << false << bad << "image input";
        QTest::newRow("an unknown model")
            << "nope:1b" << false << false << bad << "model 'nope:1b' not found";
        QTest::newRow("a reply cut mid-drawing") << "faulty:cut" << false << false << none << QString();
        QTest::newRow("a line that is not JSON is skipped")
            << "faulty:garbage" << false << true << none << QString();
        QTest::newRow("an error line mid-stream")
            << "faulty:error" << false << false << bad << "while running the model";
        QTest::newRow("HTTP 500") << "faulty:500" << false << false << bad << "more system memory";
        QTest::newRow("a dropped connection") << "faulty:drop" << false << false << other << QString();
        QTest::newRow("a stall") << "faulty:stall" << false << false << other << QString();
    }

    void chatEndsAsTheAppExpects()
    {
        QFETCH(QString, model);
        QFETCH(bool, withImage);
        QFETCH(bool, closedDrawing);
        QFETCH(int, errorKind);
        QFETCH(QString, errorText);
        const QString prompt = QStringLiteral("a lighthouse at sunset");
        const ChatOutcome outcome = chat(model, withImage ? Prompts::recreateMessages(prompt, kImage)
                                                          : Prompts::drawMessages(prompt));
        QCOMPARE(outcome.error ? int(outcome.error->kind()) : -1, errorKind);
        if (outcome.error)
            QVERIFY2(outcome.error->message().contains(errorText), qPrintable(outcome.error->message()));
        const std::optional<QString> drawing = SvgExtract::closed(outcome.answer);
        QCOMPARE(drawing.has_value(), closedDrawing);
        if (drawing)
            QVERIFY(drawing->size() > 2000);
        // A fault half-way leaves part of the drawing to keep.
        if (model.startsWith(QLatin1String("faulty:")) && model != QLatin1String("faulty:500"))
            QVERIFY(SvgExtract::openEnded(outcome.answer).has_value());
    }

    void serversBoundWhatTheyAccept_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("a body over the limit")
            << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 101\r\n\r\n") << QByteArray("413");
        QTest::newRow("a head over the limit") << QByteArray(300, 'a') << QByteArray("431");
        QTest::newRow("a chunked body")
            << QByteArray("POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") << QByteArray("411");
        QTest::newRow("a connection over the limit") << QByteArray() << QByteArray("503");
    }

    void serversBoundWhatTheyAccept()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        HttpServer server(
            [](const HttpRequest &, HttpResponder *responder) { responder->send(200, "text/plain", "ok"); },
            nullptr, HttpLimits{1, 200, 100, 30'000});
        QVERIFY(server.listen(0));
        QTcpSocket idle; // holds the one connection allowed
        idle.connectToHost(QHostAddress::LocalHost, server.url().port());
        QVERIFY(idle.waitForConnected(kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 1, kWaitMs);
        if (!request.isEmpty()) {
            idle.write(request);
            QTRY_VERIFY_WITH_TIMEOUT(idle.canReadLine(), kWaitMs);
            QCOMPARE(idle.readLine().mid(9, 3), status);
            return;
        }
        QTcpSocket extra;
        extra.connectToHost(QHostAddress::LocalHost, server.url().port());
        QTRY_VERIFY_WITH_TIMEOUT(extra.canReadLine(), kWaitMs);
        QCOMPARE(extra.readLine().mid(9, 3), status);
    }

    void pullInstallsAndDeleteRemoves()
    {
        int progress = 0;
        QCOMPARE(pull(QStringLiteral("gemma3:4b"), &progress, true), std::nullopt);
        QCOMPARE(pull(QStringLiteral("phi4-mini:3.8b"), &progress), std::nullopt);
        QVERIFY(progress > 10);
        // Both took equally long and the first began first: had it gone on, it would be installed.
        QVERIFY(installed().contains(QStringLiteral("phi4-mini:3.8b")));
        QVERIFY(!installed().contains(QStringLiteral("gemma3:4b")));

        const std::optional<OllamaError> unknown = pull(QStringLiteral("nope:1b"), &progress);
        QVERIFY(unknown);
        QCOMPARE(unknown->message(), QStringLiteral("pull model manifest: file does not exist"));

        QCOMPARE(remove(QStringLiteral("phi4-mini:3.8b")), std::nullopt);
        QVERIFY(!installed().contains(QStringLiteral("phi4-mini:3.8b")));
        const std::optional<OllamaError> gone = remove(QStringLiteral("phi4-mini:3.8b"));
        QVERIFY(gone);
        QCOMPARE(gone->message(), QStringLiteral("model 'phi4-mini:3.8b' not found"));
    }

    void serviceKeepsTheAccountAcrossARestart()
    {
        // Signing in through the page's form, then the app's own exchange.
        QVERIFY(page(QStringLiteral("oauth/mac?redirect_uri=dravlin-mac://auth")).contains("<form"));
        QByteArray location;
        page(QStringLiteral("oauth/mac"), &location, "username=ada&redirect_uri=dravlin-mac%3A%2F%2Fauth");
        QVERIFY(location.startsWith("dravlin-mac://auth?code="));
        QSignalSpy signedIn(m_account.get(), &DravlinAccount::signInFinished);
        m_account->completeSignIn(QUrl::fromEncoded(location));
        QVERIFY(signedIn.wait(kWaitMs));
        QVERIFY(m_account->signedIn());
        QCOMPARE(m_account->username(), QStringLiteral("ada"));
        QCOMPARE(balance(), 1.0);

        struct Case
        {
            const char *model;
            const char *payWith;
            bool withImage;
            const char *error; // nullptr: a finished, published drawing
            double balanceAfter;
        };
        const Case cases[] = {
            {"anthropic/claude-sonnet-4", "credits", false, nullptr, 0.88},
            {"anthropic/claude-sonnet-4", "key", false, "needs an OpenRouter key", 0.88},
            {"qwen/qwen3-235b-a22b", "credits", true, "can't see images", 0.88},
            {"anthropic/claude-sonnet-4", "credits", true, nullptr, 0.76},
            {"anthropic/claude-opus-4", "credits", false, nullptr, 0.16},
            {"anthropic/claude-opus-4", "credits", false, "Not enough Dravlin Credit", 0.16},
        };
        for (const Case &c : cases) {
            GenerationRequest request{QStringLiteral("a sleeping fox curled up"), QLatin1String(c.model),
                                      QStringLiteral("Model"), QLatin1String(c.payWith), std::nullopt};
            if (c.withImage)
                request.image = kImage;
            const GenerationOutcome outcome = generate(request);
            QCOMPARE(outcome.failure, std::nullopt);
            if (c.error) {
                QVERIFY2(outcome.member(QStringLiteral("error")).contains(QLatin1String(c.error)), c.model);
            } else {
                QVERIFY(outcome.events.last().contains(QStringLiteral("done")));
                QCOMPARE(SvgExtract::cloudRun(outcome.member(QStringLiteral("c"))),
                         outcome.events.last().value(QStringLiteral("svg")).toString());
                QVERIFY(outcome.member(QStringLiteral("url")).startsWith(m_service->url().toString()));
            }
            QCOMPARE(balance(), c.balanceAfter);
        }

        const QString token = Keychain::get(QStringLiteral("api_token")).value();
        Keychain::set(QStringLiteral("api_token"), QStringLiteral("dvl_forged"));
        QCOMPARE(generate({QStringLiteral("a fox"), QStringLiteral("openai/gpt-4.1"), QStringLiteral("GPT"),
                           QStringLiteral("credits"), std::nullopt})
                     .failure,
                 QStringLiteral("generation failed (HTTP 401)"));
        Keychain::set(QStringLiteral("api_token"), token);

        PublishResult published;
        m_account->publish({QStringLiteral("<svg viewBox=\"0 0 1 1\"></svg>"), QStringLiteral("a dot"),
                            QStringLiteral("qwen3:4b"), QStringLiteral("qwen3:4b"), QStringLiteral("local"),
                            0, 1200, QStringLiteral("A dot.")},
                           this, [&](const PublishResult &result) { published = result; });
        QTRY_VERIFY_WITH_TIMEOUT(published.url.isValid() || published.error, kWaitMs);
        QVERIFY(published.url.isValid());
        bool saved = false;
        m_account->saveFavorites({QStringLiteral("openai/gpt-4.1")}, this, [&] { saved = true; });
        QTRY_VERIFY_WITH_TIMEOUT(saved, kWaitMs);

        m_service.reset();
        startService();
        QCOMPARE(balance(), 0.16);
        std::optional<QStringList> favorites;
        bool fetched = false;
        m_account->fetchFavorites(this, [&](const std::optional<QStringList> &ids) {
            favorites = ids;
            fetched = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(fetched, kWaitMs);
        QCOMPARE(favorites, QStringList{QStringLiteral("openai/gpt-4.1")});
        // The gallery lists the drawings as images, never as inline markup.
        const QByteArray gallery = page(QStringLiteral("drawings"));
        QCOMPARE(gallery.count("<img src=\"/drawings/"), 4);
        QVERIFY(!gallery.contains("<svg"));
    }
};

QTEST_GUILESS_MAIN(TestStandIns)
#include "tst_standin.moc"
