#pragma once

#include <QString>

// One named field of a query string or a posted form.
class KeyValuePair
{
public:
    QString Key() const { return m_key; }
    QString Value() const { return m_value; }
    void setKey(const QString &key) { m_key = key; }
    void setValue(const QString &value) { m_value = value; }

private:
    QString m_key;
    QString m_value;
};
