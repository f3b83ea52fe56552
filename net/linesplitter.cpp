#include "net/linesplitter.h"

bool LineSplitter::appendPending(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return true;
    if (m_pending.size() + bytes.size() > m_maxLineBytes) {
        m_overflowed = true;
        m_pending.clear();
        m_pending.squeeze();
        return false;
    }
    m_pending.append(bytes);
    return true;
}
