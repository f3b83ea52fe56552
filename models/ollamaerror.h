#pragma once

#include <QCoreApplication>
#include <QString>

// A failure of a local-server operation, as a value. The two named cases have fixed texts the window
// shows; any other failure (transport, timeout, an over-long reply line) keeps its own description.
class OllamaError
{
    Q_DECLARE_TR_FUNCTIONS(OllamaError)

public:
    enum class Kind { BadResponse, NotRunning, Other };

    static OllamaError badResponse(const QString &message) { return {Kind::BadResponse, message}; }
    static OllamaError notRunning() { return {Kind::NotRunning, {}}; }
    static OllamaError other(const QString &description) { return {Kind::Other, description}; }

    Kind kind() const { return m_kind; }
    // The server's message for BadResponse, the description for Other.
    QString message() const { return m_message; }
    QString description() const;

    bool operator==(const OllamaError &) const = default;

private:
    OllamaError(Kind kind, const QString &message) : m_kind(kind), m_message(message) {}

    Kind m_kind;
    QString m_message;
};
