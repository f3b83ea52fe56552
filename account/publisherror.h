#pragma once

#include <QCoreApplication>
#include <QMetaType>
#include <QString>

#include <optional>

// Why a drawing could not be published, as a value. A server failure carries the message the window
// shows as it is; being signed out has a fixed text.
class PublishError
{
    Q_DECLARE_TR_FUNCTIONS(PublishError)

public:
    enum class Kind { Server, NotSignedIn };

    static PublishError server(const QString &message) { return {Kind::Server, message}; }
    static PublishError notSignedIn() { return {Kind::NotSignedIn, {}}; }

    Kind kind() const { return m_kind; }
    // The server's message for Server; empty for NotSignedIn.
    QString message() const { return m_message; }
    QString description() const
    {
        switch (m_kind) {
        case Kind::Server:
            break;
        case Kind::NotSignedIn:
            return tr("Not signed in.");
        }
        return m_message;
    }

    bool operator==(const PublishError &) const = default;

private:
    PublishError(Kind kind, const QString &message) : m_kind(kind), m_message(message) {}

    Kind m_kind;
    QString m_message;
};

Q_DECLARE_METATYPE(std::optional<PublishError>)
