#include "core/FastString.h"

#include <algorithm>

FastString::FastString()
{
    m_pieces.reserve(kChunk);
}

void FastString::Reset()
{
    m_pieces.clear();
    m_pieces.reserve(kChunk);
    m_length = 0;
}

void FastString::Add(const QString& piece)
{
    // Growing by doubling keeps a page of tens of thousands of pieces from
    // copying the list over and over.
    if (m_pieces.size() == m_pieces.capacity())
        m_pieces.reserve(std::max<qsizetype>(kChunk, m_pieces.capacity() * 2));
    m_pieces.append(piece);
    m_length += piece.size();
}

QString FastString::Value() const
{
    QString out;
    out.reserve(m_length);
    for (const QString& piece : m_pieces)
        out += piece;
    return out;
}
