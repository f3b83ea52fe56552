#include "account/dravlinaccount.h"

#include "account/keychain.h"
#include "account/serviceclient.h"
#include "account/webauthsession.h"
#include "base/logging.h"
#include "base/settings.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <QTimer>

#include <cmath>
#include <utility>

namespace {
const QString kCredits = QStringLiteral("credits");
const QString kUsername = QStringLiteral("username");
} // namespace

DravlinAccount::DravlinAccount(QObject *parent)
    : QObject(parent), m_creditsTimeoutMs(ServiceCalls::me.timeoutMs)
{
    // Another window has read the Keychain already, or written it: then there is nothing to wait for.
    for (const QString item : {Keychain::openRouterKeyItem, Keychain::apiTokenItem}) {
        if (Keychain::isKnown(item)) {
            applyStored(item);
            continue;
        }
        ++m_readsOut;
        Keychain::read(item, this, [this, item](const std::optional<QString> &) {
            applyStored(item);
            if (--m_readsOut == 0)
                Q_EMIT loaded();
        });
    }
}

void DravlinAccount::applyStored(const QString &item)
{
    // What is known now, not what the read found: a sign-in or out meanwhile has the last word.
    const bool present = Keychain::value(item).has_value();
    if (item == Keychain::openRouterKeyItem) {
        setHasOpenRouterKey(present);
    } else if (present && !m_signedIn) {
        setUsername(Settings::shared().username());
        setEmail(Settings::shared().email());
        setSignedIn(true);
    }
}

// The refresh jobs are children: they close their requests as they go.
DravlinAccount::~DravlinAccount() = default;

// ---- observable setters: each notifies only on a real change ----

void DravlinAccount::setAuthError(const std::optional<QString> &error)
{
    if (m_authError == error)
        return;
    m_authError = error;
    if (error)
        qCWarning(lcAccount).noquote() << *error;
    Q_EMIT authErrorChanged();
}

void DravlinAccount::setUsername(const std::optional<QString> &username)
{
    if (m_username == username)
        return;
    m_username = username;
    Q_EMIT usernameChanged();
}

void DravlinAccount::setEmail(const std::optional<QString> &email)
{
    if (m_email == email)
        return;
    m_email = email;
    Q_EMIT emailChanged();
}

void DravlinAccount::setSignedIn(bool signedIn)
{
    if (m_signedIn == signedIn)
        return;
    m_signedIn = signedIn;
    Q_EMIT signedInChanged();
}

void DravlinAccount::setHasOpenRouterKey(bool hasKey)
{
    if (m_hasOpenRouterKey == hasKey)
        return;
    m_hasOpenRouterKey = hasKey;
    Q_EMIT hasOpenRouterKeyChanged();
}

void DravlinAccount::setCredits(const std::optional<double> &credits)
{
    if (m_credits == credits)
        return;
    m_credits = credits;
    Q_EMIT creditsChanged();
}

// ---- the balance ----

void DravlinAccount::refreshCredits()
{
    JsonReplyJob *job = JsonReplyJob::send(ServiceCalls::me, this, std::nullopt, m_creditsTimeoutMs);
    if (!job) {
        // Not signed in: nothing to ask, but the caller still hears that the refresh is over.
        QTimer::singleShot(0, this, &DravlinAccount::creditsRefreshed);
        return;
    }
    m_refreshes.append(job);
    // Which sign-in was asked about: a refusal says nothing of a token stored since.
    const std::optional<QString> token = Keychain::value(Keychain::apiTokenItem);
    connect(job, &JsonReplyJob::finished, this, [this, job, token](const JsonReply &reply) {
        m_refreshes.removeAll(job);
        if (reply.received && reply.httpStatus == 401) {
            // The service no longer accepts the token (expired or revoked): signed in here would
            // only make every cloud drawing and publish fail.
            if (m_signedIn && Keychain::value(Keychain::apiTokenItem) == token) {
                signOut();
                setAuthError(tr("Your sign-in has expired — sign in again."));
            }
        } else {
            applyBalance(reply);
        }
        Q_EMIT creditsRefreshed();
    });
}

void DravlinAccount::applyBalance(const JsonReply &reply)
{
    // The status is not looked at: an error answer that is a JSON object is read like any other.
    if (!reply.received || !reply.object)
        return;
    const QJsonValue credits = reply.object->value(kCredits);
    if (credits.isDouble() && std::isfinite(credits.toDouble()))
        setCredits(credits.toDouble());
    else
        setCredits(std::nullopt);
    // A name already shown stays; the answer only fills one in when none is known.
    const QJsonValue username = reply.object->value(kUsername);
    if (!m_username && username.isString())
        setUsername(username.toString());
}

void DravlinAccount::cancelRefreshes()
{
    const QList<QPointer<JsonReplyJob>> refreshes = std::exchange(m_refreshes, {});
    for (const QPointer<JsonReplyJob> &job : refreshes) {
        if (!job)
            continue;
        job->cancel();
        job->deleteLater();
        Q_EMIT creditsRefreshed();
    }
}

// ---- signing out ----

void DravlinAccount::signOut()
{
    // An answer still on its way belongs to the account being signed out of.
    cancelRefreshes();
    Keychain::remove(Keychain::apiTokenItem);
    Settings::shared().setUsername(std::nullopt);
    Settings::shared().setEmail(std::nullopt);
    setSignedIn(false);
    setUsername(std::nullopt);
    setEmail(std::nullopt);
    // The balance was the account's: shown after signing out it would belong to nobody.
    setCredits(std::nullopt);
    WebAuthSession::forgetWebSession();
}

// ---- the OpenRouter key ----

QString DravlinAccount::openRouterKey() const
{
    return Keychain::value(Keychain::openRouterKeyItem).value_or(QString());
}

void DravlinAccount::saveOpenRouterKey(const QString &text)
{
    // Told once the store has answered: a write it refused must not look saved.
    Keychain::write(Keychain::openRouterKeyItem, text.trimmed(), this, [this](bool) {
        setHasOpenRouterKey(Keychain::value(Keychain::openRouterKeyItem).has_value());
    });
}

void DravlinAccount::removeOpenRouterKey()
{
    Keychain::remove(Keychain::openRouterKeyItem, this, [this](bool) {
        setHasOpenRouterKey(Keychain::value(Keychain::openRouterKeyItem).has_value());
    });
}

// ---- signing in ----

namespace {
const QString kCallbackScheme = QStringLiteral("dravlin-mac");

// The first "code" item of the callback's query: nothing when there is none or it has no "=" at
// all; an empty string when it is written "code=".
std::optional<QString> callbackCode(const QUrl &callback)
{
    if (!callback.isValid() || !callback.hasQuery())
        return std::nullopt;
    const QStringList items = callback.query(QUrl::FullyEncoded).split(QLatin1Char('&'));
    for (const QString &item : items) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString name = QUrl::fromPercentEncoding(item.left(equals < 0 ? item.size() : equals).toUtf8());
        if (name != QLatin1String("code"))
            continue;
        if (equals < 0)
            return std::nullopt;
        return QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8());
    }
    return std::nullopt;
}
} // namespace

QUrl DravlinAccount::signInPageURL(const QString &challenge)
{
    QUrl url = ServiceClient::endpoint(QString::fromLatin1(ServicePages::signIn));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("redirect_uri"), QStringLiteral("dravlin-mac://auth"));
    query.addQueryItem(QStringLiteral("code_challenge"), challenge);
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    url.setQuery(query);
    return url;
}

QString DravlinAccount::challengeFor(const QString &verifier)
{
    return QString::fromLatin1(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QUrl DravlinAccount::startSignIn()
{
    // 32 random bytes make the 43 characters the method asks for.
    QByteArray secret(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(secret.data()), secret.size() / 4);
    m_verifier =
        QString::fromLatin1(secret.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    return signInPageURL(challengeFor(m_verifier));
}

void DravlinAccount::signIn(QWindow *parent)
{
    setAuthError(std::nullopt);
    // A new sign-in replaces one still showing: its window closes and it reports nothing.
    if (m_webAuthSession) {
        m_webAuthSession->disconnect(this);
        m_webAuthSession->deleteLater();
    }
    auto *session = new WebAuthSession(startSignIn(), kCallbackScheme, this);
    session->setParentWindow(parent);
    m_webAuthSession = session;
    connect(session, &WebAuthSession::completed, this, [this, session](const QUrl &callback) {
        session->deleteLater();
        completeSignIn(callback);
    });
    connect(session, &WebAuthSession::cancelled, this, [this, session] {
        session->deleteLater();
        Q_EMIT signInFinished();
    });
    connect(session, &WebAuthSession::failed, this, [this, session](const QString &description) {
        session->deleteLater();
        setAuthError(description);
        Q_EMIT signInFinished();
    });
    session->start();
}

WebAuthSession *DravlinAccount::signInSession() const
{
    return m_webAuthSession;
}

void DravlinAccount::completeSignIn(const QUrl &callback)
{
    const std::optional<QString> code = callbackCode(callback);
    if (!code) {
        setAuthError(tr("Sign-in failed — no code returned."));
        Q_EMIT signInFinished();
        return;
    }
    exchange(*code);
}

void DravlinAccount::exchange(const QString &code)
{
    if (m_exchange) {
        m_exchange->cancel();
        m_exchange->deleteLater();
    }
    QJsonObject body{{QStringLiteral("code"), code}};
    // The secret goes with this one code only; a second callback has nothing to prove itself with.
    if (!m_verifier.isEmpty())
        body.insert(QStringLiteral("code_verifier"), std::exchange(m_verifier, {}));
    JsonReplyJob *job = JsonReplyJob::send(ServiceCalls::exchangeCode, this, body);
    m_exchange = job;
    connect(job, &JsonReplyJob::finished, this, [this](const JsonReply &reply) {
        if (!reply.received) {
            setAuthError(tr("Sign-in failed: %1").arg(reply.errorDescription));
            Q_EMIT signInFinished();
            return;
        }
        const QJsonValue token = reply.object ? reply.object->value(QStringLiteral("token")) : QJsonValue();
        if (!token.isString()) {
            setAuthError(tr("Sign-in failed — couldn't exchange code."));
            Q_EMIT signInFinished();
            return;
        }
        // A balance or name still on its way belongs to whoever was signed in before.
        cancelRefreshes();
        // Known at once, so the balance asked for below already carries it.
        Keychain::write(Keychain::apiTokenItem, token.toString());
        const QJsonValue username = reply.object->value(kUsername);
        const QJsonValue email = reply.object->value(QStringLiteral("email"));
        setUsername(username.isString() ? std::optional<QString>(username.toString()) : std::nullopt);
        setEmail(email.isString() ? std::optional<QString>(email.toString()) : std::nullopt);
        Settings::shared().setUsername(m_username);
        Settings::shared().setEmail(m_email);
        // Whoever was signed in before had their own balance; this account's is asked for at
        // once, not at its first cloud drawing.
        setCredits(std::nullopt);
        setSignedIn(true);
        Q_EMIT signInFinished();
        refreshCredits();
    });
}

// ---- drawing on the service ----

GenerationStream *DravlinAccount::streamGeneration(const GenerationRequest &request, QObject *owner)
{
    return GenerationStream::start(request, owner);
}

void DravlinAccount::publish(const PublishedDrawing &drawing, QObject *context,
                             std::function<void(const PublishResult &)> done)
{
    QJsonObject body{
        {QStringLiteral("prompt"), drawing.prompt},
        {QStringLiteral("model_id"), drawing.model},
        {QStringLiteral("model_label"), drawing.modelLabel},
        {QStringLiteral("provider"), drawing.provider},
        {QStringLiteral("svg"), drawing.svg},
        {QStringLiteral("content"), drawing.transcript},
        {QStringLiteral("duration_ms"), drawing.durationMs},
    };
    // A cost only means something for a drawing paid with credit.
    if (drawing.provider == QLatin1String("credits"))
        body.insert(QStringLiteral("cost_usd"), drawing.costUSD);
    JsonReplyJob *job = JsonReplyJob::send(ServiceCalls::publishDrawing, context, body);
    if (!job) {
        QTimer::singleShot(0, context, [done] { done({QUrl(), PublishError::notSignedIn()}); });
        return;
    }
    connect(job, &JsonReplyJob::finished, context, [done](const JsonReply &reply) {
        if (!reply.received) {
            // The transport's own words; the caller shows them as they are.
            done({QUrl(), PublishError::server(reply.errorDescription)});
            return;
        }
        const QJsonValue url = reply.object ? reply.object->value(QStringLiteral("url")) : QJsonValue();
        if (reply.httpStatus == 201 && url.isString()) {
            // Only a web page is ever offered as the drawing's link.
            const QUrl address = ServiceClient::webAddress(url.toString());
            if (!address.isEmpty()) {
                done({address, std::nullopt});
                return;
            }
        }
        QString message = tr("publish failed");
        if (reply.object && reply.object->contains(QStringLiteral("error"))) {
            const QJsonValue error = reply.object->value(QStringLiteral("error"));
            if (error.isString())
                message = error.toString();
        }
        done({QUrl(), PublishError::server(message)});
    });
}

void DravlinAccount::fetchFavorites(QObject *context,
                                    std::function<void(const std::optional<QStringList> &)> done)
{
    JsonReplyJob *job = JsonReplyJob::send(ServiceCalls::fetchFavorites, context);
    if (!job) {
        QTimer::singleShot(0, context, [done] { done(std::nullopt); });
        return;
    }
    connect(job, &JsonReplyJob::finished, context, [done](const JsonReply &reply) {
        const QJsonValue ids = reply.object ? reply.object->value(QStringLiteral("cloud_ids")) : QJsonValue();
        if (!ids.isArray()) {
            done(std::nullopt);
            return;
        }
        QStringList list;
        for (const QJsonValue &id : ids.toArray()) {
            if (!id.isString()) {
                done(std::nullopt);
                return;
            }
            list.append(id.toString());
        }
        done(list);
    });
}

void DravlinAccount::saveFavorites(const QStringList &ids, QObject *context, std::function<void()> done)
{
    JsonReplyJob *job =
        JsonReplyJob::send(ServiceCalls::saveFavorites, context,
                           QJsonObject{{QStringLiteral("cloud_ids"), QJsonArray::fromStringList(ids)}});
    if (!job) {
        if (done)
            QTimer::singleShot(0, context, done);
        return;
    }
    connect(job, &JsonReplyJob::finished, context, [done](const JsonReply &) {
        if (done)
            done();
    });
}
