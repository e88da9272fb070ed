#include "CommandRing.h"

bool CommandRing::push(const RingEntry& entry)
{
    if (m_count >= kCapacity)
        return false;
    m_slots[size_t(m_write)] = entry;
    m_write = (m_write + 1) % kCapacity;
    ++m_count;
    return true;
}

RingEntry CommandRing::take()
{
    RingEntry e = m_slots[size_t(m_read)];
    m_read = (m_read + 1) % kCapacity;
    --m_count;
    return e;
}

void CommandRing::clear()
{
    m_read = m_write = m_count = 0;
}
