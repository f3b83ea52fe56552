#pragma once

#include "account/generationstream.h"
#include "account/publisherror.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <optional>

class JsonReplyJob;
class WebAuthSession;
struct JsonReply;

// A finished local drawing as the service lists it.
struct PublishedDrawing
{
    QString svg;
    QString prompt;
    QString model;
    QString modelLabel;
    QString provider;
    double costUSD = 0;
    qint64 durationMs = 0;
    QString transcript;
};

// How a publish went: the drawing's web address, or why not.
struct PublishResult
{
    QUrl url;
    std::optional<PublishError> error;
};

// The Dravlin account as this window knows it: who is signed in, the credit balance, and whether an
// OpenRouter key is kept. The token and the key are kept only in the Keychain; the name and email
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
    // Takes what the Keychain is known to hold and reads the rest from it, and the preferences;
    // sends nothing. loaded() follows once the Keychain has answered, unless nothing had to be read.
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
    // Whether the Keychain has answered: until then the account may still turn out signed in.
    bool isLoaded() const { return m_readsOut == 0; }

    // Asks the service for the balance (and for the name, when none is known yet). Returns at once
    // and never fails: without a token, or when the exchange fails or the answer is unusable,
    // nothing changes. creditsRefreshed() follows every call.
    Q_INVOKABLE void refreshCredits();
    // Forgets the token, the name and the email. The balance, the error shown and the OpenRouter
    // key stay. Sends nothing.
    Q_INVOKABLE void signOut();

    Q_INVOKABLE QString openRouterKey() const;
    // Stores the key trimmed; a key that is empty once trimmed removes the stored one. Once the
    // Keychain has answered, hasOpenRouterKey tells what it actually holds.
    Q_INVOKABLE void saveOpenRouterKey(const QString &text);
    Q_INVOKABLE void removeOpenRouterKey();

    // Opens the service's sign-in page in a window of its own; a one-time code it hands back is
    // exchanged for a token. The outcome shows in signedIn, username, email and authError.
    // The sign-in window stays above parent (the window the user asked from) and centred on it.
    Q_INVOKABLE void signIn(QWindow *parent = nullptr);
    // The sign-in page: base URL + "oauth/mac" with the app's callback as redirect_uri, and the
    // challenge (the S256 PKCE method) that only this sign-in can answer when it trades the code.
    static QUrl signInPageURL(const QString &challenge);
    // Begins a sign-in without its window: a fresh secret verifier, and the page to open.
    QUrl startSignIn();
    // The PKCE challenge for a verifier: SHA-256, base64url without padding.
    static QString challengeFor(const QString &verifier);
    // Handles the address the sign-in page finished on (public for tests of the callback rules).
    void completeSignIn(const QUrl &callback);
    // The window of the sign-in in progress, if any.
    WebAuthSession *signInSession() const;

    // Starts a cloud generation; see GenerationStream.
    GenerationStream *streamGeneration(const GenerationRequest &request, QObject *owner);

    // Publishes a finished drawing; done runs once with the result unless context goes first.
    void publish(const PublishedDrawing &drawing, QObject *context,
                 std::function<void(const PublishResult &)> done);
    // The account's favourite cloud models, or none when unknown (signed out, failure, no list).
    void fetchFavorites(QObject *context, std::function<void(const std::optional<QStringList> &)> done);
    // Replaces the account's favourites; the outcome is not reported.
    void saveFavorites(const QStringList &ids, QObject *context, std::function<void()> done = {});

    // The idle limit of the balance request; the service's own unless changed.
    int creditsTimeoutMs() const { return m_creditsTimeoutMs; }
    void setCreditsTimeoutMs(int ms) { m_creditsTimeoutMs = ms; }

Q_SIGNALS:
    void usernameChanged();
    void emailChanged();
    void signedInChanged();
    void authErrorChanged();
    void hasOpenRouterKeyChanged();
    void creditsChanged();
    // A refreshCredits() call has ended, whatever came of it. Once per call, never from inside it.
    void creditsRefreshed();
    // A sign-in has come to an end: signed in, failed, or closed by the user.
    void signInFinished();
    // The Keychain has answered the reads the account began with.
    void loaded();

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

    void applyStored(const QString &item);
    void applyBalance(const JsonReply &reply);
    void exchange(const QString &code);
    void cancelRefreshes();

    std::optional<QString> m_username;
    std::optional<QString> m_email;
    bool m_signedIn = false;
    std::optional<QString> m_authError;
    bool m_hasOpenRouterKey = false;
    std::optional<double> m_credits;
    int m_creditsTimeoutMs;
    int m_readsOut = 0;
    QList<QPointer<JsonReplyJob>> m_refreshes;
    QPointer<WebAuthSession> m_webAuthSession;
    QPointer<JsonReplyJob> m_exchange;
    // The secret of the sign-in in progress; a code is traded only together with it.
    QString m_verifier;
};
