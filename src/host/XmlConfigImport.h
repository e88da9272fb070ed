#pragma once

#include "automation/Collection.h"

#include <QHash>
#include <QString>

class EventClass;

// Imports devices and events from the XML configuration: a persisted
// recordset whose rows are devices, events, conditions and device actions,
// told apart by their record_type column. The schema part gives each
// column's data type; a row's columns are taken in their order in the file.
class XmlConfigImport
{
public:
    // True when the file was read and walked; a missing or malformed file
    // imports nothing.
    static bool ReadXML(const QString &path);

    // The pair decoding of hex-encoded texts; raises error 5 on a text of odd
    // length or a character code outside 0 to 255.
    static QString HexDecode(const QString &text);

    // True when the last import gave up on a stop signal: what it made is only part of the
    // file and must not be stored as the devices.
    static bool stopped() { return s_stopped; }

private:
    static constexpr qint64 kReadPieceBytes = 64 * 1024;
    static inline bool s_stopped = false;

    struct Attribute {
        QString name;
        QString value;
    };

    void element(const QString &name, const std::vector<Attribute> &attributes);
    void schemaAttributes(const std::vector<Attribute> &attributes);
    void row(const std::vector<Attribute> &attributes);
    void setField(const ObjectPtr &record, const QString &type, const QString &column, const QString &value);
    void AddPendingEvent();

    int m_walkState = 0;
    QHash<QString, QString> m_columnTypes;
    QString m_schemaName;
    QString m_schemaType;
    std::shared_ptr<EventClass> m_pendingEvent;
    CollectionPtr m_pendingConditions;
    CollectionPtr m_pendingDevices;
};
