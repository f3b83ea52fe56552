#include "models/ollamaerror.h"

QString OllamaError::description() const
{
    switch (m_kind) {
    case Kind::BadResponse:
        return tr("Unexpected Ollama response: %1").arg(m_message);
    case Kind::NotRunning:
        return tr("Ollama isn't running on localhost:11434.");
    case Kind::Other:
        break;
    }
    return m_message;
}
