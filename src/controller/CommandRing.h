#pragma once
#include <QString>
#include <array>

// One queued controller command, as QExec received it.
struct RingEntry
{
    QString housecode;
    QString DeviceCode;
    int command = 0;
    long brightness = 0;
    int data1 = 0;
    int data2 = 0;
};

// Every controller command waits here until the report loop carries it out,
// strictly one at a time. At most 50 wait; a further one is dropped.
class CommandRing
{
public:
    static constexpr int kCapacity = 50;

    // False (and nothing stored) when the ring is full.
    bool push(const RingEntry& entry);
    // The same, except that a value for a variable or a module point that
    // still waits takes the new value in its place: the point ends as the
    // last write left it, and repeated writes cost one exchange.
    bool pushMerging(const RingEntry& entry);
    // The oldest entry; only while count() > 0.
    RingEntry take();
    void clear();
    // X10 commands (codes below 19) that clear() dropped unsent, counted.
    unsigned long long x10Dropped() const { return m_x10Dropped; }
    int count() const { return m_count; }
    bool isEmpty() const { return m_count == 0; }

private:
    std::array<RingEntry, kCapacity + 1> m_slots;
    int m_read = 0;
    int m_write = 0;
    int m_count = 0;
    unsigned long long m_x10Dropped = 0;
};
