#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The stand-in service's state in one SQLite file: users and their balances, sign-in codes, API
// tokens (only their hashes are kept), published drawings and favourites. Every call is one
// statement or one transaction, so a restart finds everything that was answered before it.
class ServiceStore
{
public:
    struct User
    {
        qint64 id = 0;
        QString name;
        QString email;
        double credits = 0;
    };

    struct Drawing
    {
        qint64 id = 0;
        QString username;
        QString prompt;
        QString modelId;
        QString modelLabel;
        QString provider;
        QString svg;
        QString content;
        qint64 durationMs = 0;
        std::optional<double> costUSD;
        QDateTime created;
    };

    // Opens (creating when needed) the database at path. Check ok() afterwards.
    explicit ServiceStore(const QString &path);
    ~ServiceStore();
    ServiceStore(const ServiceStore &) = delete;
    ServiceStore &operator=(const ServiceStore &) = delete;

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }

    // The user of that name, created with the starting balance when new.
    User userNamed(const QString &name, double startingCredits);
    std::optional<User> user(qint64 id);

    // A one-time code for the user, valid for a few minutes, bound to the sign-in that asked for
    // it by the challenge (the SHA-256 of a secret only that sign-in knows, base64url).
    QString issueCode(qint64 userId, const QString &challenge);
    // The user the code was issued to, when the verifier is the secret behind the code's
    // challenge; the code is spent either way.
    std::optional<qint64> redeemCode(const QString &code, const QString &verifier);
    // The challenge a verifier answers.
    static QString challengeFor(const QString &verifier);

    QString issueToken(qint64 userId);
    std::optional<User> userForToken(const QString &token);

    // Takes amount from the balance unless that would make it negative. False when it did not.
    bool charge(qint64 userId, double amount);

    qint64 addDrawing(qint64 userId, const Drawing &drawing);
    std::optional<Drawing> drawing(qint64 id);
    // Newest first; of one user when username is given.
    QList<Drawing> drawings(int limit, const QString &username = QString());

    QStringList favorites(qint64 userId);
    void setFavorites(qint64 userId, const QStringList &ids);

private:
    bool exec(const QString &statement);

    QString m_connection;
    bool m_ok = false;
    QString m_error;
};
