#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <optional>

class JsonReplyJob;
struct JsonReply;

// The Dravlin account as this window knows it: who is signed in, the credit balance, and whether an
// OpenRouter key is kept. The token and the key live only in the Keychain; the name and email
// shown are remembered in the preferences. Everything here lives on the main thread. Optional
// texts read as empty strings in QML, and an unknown balance as undefined.
class DravlinAccount : public QObject
{
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(QString username READ usernameOrEmpty NOTIFY usernameChanged)
    Q_PROPERTY(QString email READ emailOrEmpty NOTIFY emailChanged)
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY signedInChanged)
    Q_PROPERTY(QString authError READ authErrorOrEmpty NOTIFY authErrorChanged)
    Q_PROPERTY(bool hasOpenRouterKey READ hasOpenRouterKey NOTIFY hasOpenRouterKeyChanged)
    Q_PROPERTY(bool hasCredits READ hasCredits NOTIFY creditsChanged)
    Q_PROPERTY(QVariant credits READ creditsValue NOTIFY creditsChanged)

public:
    // Reads the Keychain and the preferences; sends nothing.
    explicit DravlinAccount(QObject *parent = nullptr);
    ~DravlinAccount() override;

    std::optional<QString> username() const { return m_username; }
    std::optional<QString> email() const { return m_email; }
    bool signedIn() const { return m_signedIn; }
    std::optional<QString> authError() const { return m_authError; }
    void setAuthError(const std::optional<QString> &error);
    bool hasOpenRouterKey() const { return m_hasOpenRouterKey; }
    std::optional<double> credits() const { return m_credits; }
    bool hasCredits() const { return m_credits.has_value(); }

    // Asks the service for the balance (and for the name, when none is known yet). Returns at once
    // and never fails: without a token, or when the exchange fails or the answer is unusable,
    // nothing changes. creditsRefreshed() follows every call.
    Q_INVOKABLE void refreshCredits();
    // Forgets the token, the name and the email. The balance, the error shown and the OpenRouter
    // key stay. Sends nothing.
    Q_INVOKABLE void signOut();

    Q_INVOKABLE QString openRouterKey() const;
    // Stores the key trimmed; a key that is empty once trimmed removes the stored one.
    // hasOpenRouterKey then tells what the Keychain actually holds.
    Q_INVOKABLE void saveOpenRouterKey(const QString &text);
    Q_INVOKABLE void removeOpenRouterKey();

    // The idle limit of the balance request; the service's own unless changed.
    int creditsTimeoutMs() const { return m_creditsTimeoutMs; }
    void setCreditsTimeoutMs(int ms) { m_creditsTimeoutMs = ms; }

signals:
    void usernameChanged();
    void emailChanged();
    void signedInChanged();
    void authErrorChanged();
    void hasOpenRouterKeyChanged();
    void creditsChanged();
    // A refreshCredits() call has ended, whatever came of it. Once per call, never from inside it.
    void creditsRefreshed();

private:
    QString usernameOrEmpty() const { return m_username.value_or(QString()); }
    QString emailOrEmpty() const { return m_email.value_or(QString()); }
    QString authErrorOrEmpty() const { return m_authError.value_or(QString()); }
    QVariant creditsValue() const { return m_credits ? QVariant(*m_credits) : QVariant(); }

    void setUsername(const std::optional<QString> &username);
    void setEmail(const std::optional<QString> &email);
    void setSignedIn(bool signedIn);
    void setHasOpenRouterKey(bool hasKey);
    void setCredits(const std::optional<double> &credits);

    void applyBalance(const JsonReply &reply);
    void cancelRefreshes();

    std::optional<QString> m_username;
    std::optional<QString> m_email;
    bool m_signedIn = false;
    std::optional<QString> m_authError;
    bool m_hasOpenRouterKey = false;
    std::optional<double> m_credits;
    int m_creditsTimeoutMs;
    QList<QPointer<JsonReplyJob>> m_refreshes;
};
