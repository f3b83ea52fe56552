#include "models/ollamaerror.h"

QString OllamaError::description() const
{
    switch (m_kind) {
    case Kind::BadResponse:
        return QStringLiteral("Unexpected Ollama response: ") + m_message;
    case Kind::NotRunning:
        return QStringLiteral("Ollama isn't running on localhost:11434.");
    case Kind::Other:
        break;
    }
    return m_message;
}
