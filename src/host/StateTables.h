#pragma once

#include <QString>
#include <array>
#include <vector>

// The live state of every device code: five tables addressed by house index
// (from the code's first character) and unit (the number after it). Any code
// maps to a slot; codes with one house index and unit share it.
class StateTables
{
public:
    static constexpr int kUnits = 100;

    struct Slot {
        int house = 0;
        int unit = 0;
    };

    StateTables();

    // Fills the house index table and makes fresh tables, all values cleared.
    void reset();

    int houseIndex(int charCode) const { return m_houseIndex.at(size_t(charCode)); }
    int houseCount() const { return m_houseCount; }

    // Raises error 9 for an empty code and for a first character outside 0 to 255.
    Slot slot(const QString &code) const;

    qint16 &status(const Slot &s) { return m_status[index(s)]; }
    qint32 &value(const Slot &s) { return m_value[index(s)]; }
    QString &string(const Slot &s) { return m_string[index(s)]; }
    double &lastChange(const Slot &s) { return m_lastChange[index(s)]; }
    qint32 &time(const Slot &s) { return m_time[index(s)]; }

private:
    size_t index(const Slot &s) const { return size_t(s.house) * kUnits + size_t(s.unit); }

    std::array<int, 256> m_houseIndex{};
    int m_houseCount = 0;
    std::vector<qint16> m_status;
    std::vector<qint32> m_value;
    std::vector<QString> m_string;
    std::vector<double> m_lastChange;
    std::vector<qint32> m_time;
};
