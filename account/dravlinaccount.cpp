#include "account/dravlinaccount.h"

#include "account/keychain.h"
#include "account/preferences.h"
#include "account/serviceclient.h"

#include <QTimer>

#include <cmath>
#include <utility>

namespace {
const QString kUsernameKey = QStringLiteral("DravlinUsername");
const QString kEmailKey = QStringLiteral("DravlinEmail");
const QString kCredits = QStringLiteral("credits");
const QString kUsername = QStringLiteral("username");

std::optional<QString> storedText(const QString &key)
{
    const QVariant value = Preferences::value(key);
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}
} // namespace

DravlinAccount::DravlinAccount(QObject *parent)
    : QObject(parent), m_creditsTimeoutMs(ServiceCalls::me.timeoutMs)
{
    m_hasOpenRouterKey = Keychain::get(Keychain::openRouterKeyItem).has_value();
    if (Keychain::get(Keychain::apiTokenItem)) {
        m_signedIn = true;
        m_username = storedText(kUsernameKey);
        m_email = storedText(kEmailKey);
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
    emit authErrorChanged();
}

void DravlinAccount::setUsername(const std::optional<QString> &username)
{
    if (m_username == username)
        return;
    m_username = username;
    emit usernameChanged();
}

void DravlinAccount::setEmail(const std::optional<QString> &email)
{
    if (m_email == email)
        return;
    m_email = email;
    emit emailChanged();
}

void DravlinAccount::setSignedIn(bool signedIn)
{
    if (m_signedIn == signedIn)
        return;
    m_signedIn = signedIn;
    emit signedInChanged();
}

void DravlinAccount::setHasOpenRouterKey(bool hasKey)
{
    if (m_hasOpenRouterKey == hasKey)
        return;
    m_hasOpenRouterKey = hasKey;
    emit hasOpenRouterKeyChanged();
}

void DravlinAccount::setCredits(const std::optional<double> &credits)
{
    if (m_credits == credits)
        return;
    m_credits = credits;
    emit creditsChanged();
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
    connect(job, &JsonReplyJob::finished, this, [this, job](const JsonReply &reply) {
        m_refreshes.removeAll(job);
        applyBalance(reply);
        emit creditsRefreshed();
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
        emit creditsRefreshed();
    }
}

// ---- signing out ----

void DravlinAccount::signOut()
{
    // An answer still on its way belongs to the account being signed out of.
    cancelRefreshes();
    Keychain::remove(Keychain::apiTokenItem);
    Preferences::remove(kUsernameKey);
    Preferences::remove(kEmailKey);
    setSignedIn(false);
    setUsername(std::nullopt);
    setEmail(std::nullopt);
}

// ---- the OpenRouter key ----

QString DravlinAccount::openRouterKey() const
{
    return Keychain::get(Keychain::openRouterKeyItem).value_or(QString());
}

void DravlinAccount::saveOpenRouterKey(const QString &text)
{
    Keychain::set(Keychain::openRouterKeyItem, text.trimmed());
    // Read back: a write the store refused must not look saved.
    setHasOpenRouterKey(Keychain::get(Keychain::openRouterKeyItem).has_value());
}

void DravlinAccount::removeOpenRouterKey()
{
    Keychain::remove(Keychain::openRouterKeyItem);
    setHasOpenRouterKey(Keychain::get(Keychain::openRouterKeyItem).has_value());
}
