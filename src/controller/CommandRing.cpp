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
    for (int k = 0, slot = m_read; k < m_count; ++k, slot = (slot + 1) % kCapacity)
        m_x10Dropped += m_slots[size_t(slot)].command < 19 ? 1 : 0;
    m_read = m_write = m_count = 0;
}

namespace {
// Two writes that set the same controller point.
bool samePoint(const RingEntry& a, const RingEntry& b)
{
    if (a.command != b.command)
        return false;
    if (a.command == 19)
        return a.housecode == b.housecode && a.DeviceCode == b.DeviceCode;
    if (a.command == 101)
        return a.data1 == b.data1 && a.data2 == b.data2;
    return false;
}
} // namespace

bool CommandRing::pushMerging(const RingEntry& entry)
{
    for (int k = 0, slot = m_read; k < m_count; ++k, slot = (slot + 1) % kCapacity) {
        if (samePoint(m_slots[size_t(slot)], entry)) {
            m_slots[size_t(slot)].brightness = entry.brightness;
            return true;
        }
    }
    return push(entry);
}
