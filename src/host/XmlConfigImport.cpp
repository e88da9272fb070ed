#include "host/XmlConfigImport.h"

#include "host/Condition.h"
#include "host/DevFunc.h"
#include "host/DeviceClass.h"
#include "host/EventClass.h"
#include "host/HostGlobals.h"
#include "host/clsString.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"

#include <QFile>
#include <QXmlStreamReader>

namespace {

// Counts every row met in the data part, over all imports of the process.
qint32 gRowCounter = 0;

struct RecordKind {
    const char *type;
    const char *first;
    const char *end;
};

const RecordKind kKinds[] = {
    {"1", "can_dim", "CS_Status"},
    {"2", "delete", "cd_condition"},
    {"3", "cd_condition", "dev_devid"},
    {"4", "dev_devid", "tv_daytime"},
};

const RecordKind *kindOf(const QString &type)
{
    for (const RecordKind &k : kKinds) {
        if (type == QLatin1String(k.type))
            return &k;
    }
    return nullptr;
}

QString propertyName(const QString &type, const QString &column)
{
    if (type == QLatin1String("2")) {
        if (column == QLatin1String("evmisc") || column == QLatin1String("evmisc2") || column == QLatin1String("evname"))
            return column.mid(2);
        if (column == QLatin1String("dim_to"))
            return QStringLiteral("ev_dimto");
        return column;
    }
    if (type == QLatin1String("3"))
        return column.mid(3);
    if (type == QLatin1String("4") && column != QLatin1String("setpoint_action"))
        return column.mid(4);
    return column;
}

} // namespace

QString XmlConfigImport::HexDecode(const QString &text)
{
    if (text.size() % 2 != 0)
        throw VbError(VbErr::InvalidProcedureCall);
    clsString builder;
    for (qsizetype i = 0; i < text.size(); i += 2) {
        const int c1 = text.at(i).unicode();
        const int c2 = text.at(i + 1).unicode();
        const int high = (c1 < 'A' ? c1 - 48 : c1 - 65) * 16;
        if (c2 < 'A') {
            builder.Add(QString::number(high + c2 - 48));
        } else {
            const int code = high + c2 - 65;
            if (code < 0 || code > 255)
                throw VbError(VbErr::InvalidProcedureCall);
            builder.Add(QString(AnsiCodePage::toUnicode(quint8(code))));
        }
    }
    return builder.Value();
}

bool XmlConfigImport::ReadXML(const QString &path)
{
    try {
        ReferenceCounter() = -1;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        // The whole document is parsed before anything is imported, so a
        // malformed file imports nothing.
        struct Element {
            QString name;
            std::vector<Attribute> attributes;
        };
        std::vector<Element> elements;
        // Fed a piece at a time, the reader comes back to this loop after every piece: a file of
        // a few elements and endless comments or text sees the stop as soon as one of many rows.
        QXmlStreamReader reader;
        reader.setNamespaceProcessing(false);
        // The import runs before the event loop: a stop signal is seen only by looking.
        s_stopped = false;
        auto stopping = [] {
            if (!gStopSignalled)
                return false;
            s_stopped = true;
            LogError(kProgramName, QStringLiteral("ReadXML stopped: the program is stopping; the import runs again at the next start"));
            return true;
        };
        for (;;) {
            if (stopping())
                return false;
            const QXmlStreamReader::TokenType token = reader.readNext();
            if (token == QXmlStreamReader::Invalid && reader.error() == QXmlStreamReader::PrematureEndOfDocumentError
                && !file.atEnd()) {
                const QByteArray piece = file.read(kReadPieceBytes);
                if (piece.isEmpty())
                    break;
                reader.addData(piece);
                continue;
            }
            if (token == QXmlStreamReader::Invalid || reader.atEnd())
                break;
            if (token != QXmlStreamReader::StartElement)
                continue;
            Element e;
            e.name = reader.qualifiedName().toString();
            for (const QXmlStreamAttribute &a : reader.attributes())
                e.attributes.push_back({a.qualifiedName().toString(), a.value().toString()});
            elements.push_back(std::move(e));
        }
        if (reader.hasError()) {
            // The file and the place only: the log goes out on the network, the file's text stays here.
            LogError(kProgramName, QStringLiteral("ReadXML ") + path + QStringLiteral(" is not well-formed at line ")
                                       + QString::number(reader.lineNumber()));
            return false;
        }
        XmlConfigImport walk;
        for (size_t i = 0; i < elements.size(); ++i) {
            if (stopping())
                return false;
            walk.element(elements[i].name, elements[i].attributes);
        }
        walk.AddPendingEvent();
        return true;
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("ReadXML"));
        return false;
    }
}

void XmlConfigImport::element(const QString &name, const std::vector<Attribute> &attributes)
{
    if (name == QLatin1String("rs:data"))
        m_walkState = 2;
    else if (name == QLatin1String("s:AttributeType"))
        m_walkState = 1;
    if (attributes.empty())
        return;
    if (m_walkState == 1)
        schemaAttributes(attributes);
    else if (m_walkState == 2)
        row(attributes);
}

void XmlConfigImport::schemaAttributes(const std::vector<Attribute> &attributes)
{
    for (const Attribute &a : attributes) {
        if (a.name == QLatin1String("name"))
            m_schemaName = a.value;
        else if (a.name == QLatin1String("dt:type"))
            m_schemaType = a.value;
    }
    // The column's name stands on its AttributeType element and its type on a
    // child element: the pair is complete once the child was seen.
    if (!m_schemaName.isEmpty() && !m_schemaType.isEmpty() && !m_columnTypes.contains(m_schemaName)) {
        m_columnTypes.insert(m_schemaName, m_schemaType);
        m_schemaName.clear();
        m_schemaType.clear();
    }
}

void XmlConfigImport::row(const std::vector<Attribute> &attributes)
{
    ++gRowCounter;
    ObjectPtr record;
    QString type;
    const RecordKind *kind = nullptr;
    bool skipping = true;
    for (const Attribute &a : attributes) {
        try {
            if (a.name == QLatin1String("record_type")) {
                type = a.value;
                if (type == QLatin1String("1") || type == QLatin1String("2"))
                    AddPendingEvent();
                kind = kindOf(type);
                record.reset();
                if (type == QLatin1String("1"))
                    record = std::make_shared<DeviceClass>();
                else if (type == QLatin1String("2"))
                    record = std::make_shared<EventClass>();
                else if (type == QLatin1String("3"))
                    record = std::make_shared<condition>();
                else if (type == QLatin1String("4"))
                    record = std::make_shared<devFunc>();
                else
                    LogError(kProgramName, QStringLiteral("attribute walk New Record Type ") + type);
                skipping = true;
                continue;
            }
            if (skipping) {
                if (!kind || a.name != QLatin1String(kind->first))
                    continue;
                skipping = false;
            }
            if (a.name == QLatin1String(kind->end)) {
                const QString counter = QString::number(gRowCounter);
                if (type == QLatin1String("1")) {
                    auto device = std::static_pointer_cast<DeviceClass>(record);
                    DeviceCollection().add(Variant(record));
                    if (ReferenceCounter() < device->ref())
                        ReferenceCounter() = device->ref();
                } else if (type == QLatin1String("2")) {
                    m_pendingEvent = std::static_pointer_cast<EventClass>(record);
                    m_pendingConditions = std::make_shared<Collection>();
                    m_pendingDevices = std::make_shared<Collection>();
                } else if (type == QLatin1String("3")) {
                    if (!m_pendingConditions)
                        throw VbError(VbErr::ObjectVariableNotSet);
                    m_pendingConditions->add(Variant(record), QStringLiteral("Con") + counter);
                } else if (type == QLatin1String("4")) {
                    if (!m_pendingDevices)
                        throw VbError(VbErr::ObjectVariableNotSet);
                    m_pendingDevices->add(Variant(record), QStringLiteral("Dev") + counter);
                }
                return;
            }
            const auto columnType = m_columnTypes.constFind(a.name);
            if (columnType == m_columnTypes.constEnd()) {
                LogError(kProgramName, QStringLiteral("Attribute_Walk Type does not exits for ") + a.name);
                continue;
            }
            setField(record, *columnType, propertyName(type, a.name), a.value);
        } catch (const VbError &e) {
            // A property the record lacks or a value that does not convert is passed over;
            // a number too large for its property is worth a word, since it is lost.
            if (e.number == VbErr::Overflow) {
                PendingError::capture();
                LogError(kProgramName, QStringLiteral("Attribute_Walk ") + a.name + QStringLiteral(" of row ")
                                           + QString::number(gRowCounter));
            }
            PendingError::clear();
        } catch (...) {
            PendingError::clear();
        }
    }
}

void XmlConfigImport::setField(const ObjectPtr &record, const QString &type, const QString &property,
                               const QString &value)
{
    Variant converted;
    if (type == QLatin1String("string")) {
        if (property == QLatin1String("pi_actions") || property == QLatin1String("pi_trigger")
            || property == QLatin1String("buttons")) {
            converted = Variant(HexDecode(value));
        } else {
            QString text = value;
            text.replace(QStringLiteral("&#x22"), QStringLiteral("\""));
            text.replace(QStringLiteral("&#x26"), QStringLiteral("&"));
            text.replace(QStringLiteral("&#27"), QStringLiteral("'"));
            converted = Variant(text);
        }
    } else if (type == QLatin1String("int")) {
        // The column's "int" is 32 bits wide; the property's own type refuses what it cannot hold.
        converted = Variant::fromLong(Variant(value).toLong());
    } else if (type == QLatin1String("boolean")) {
        converted = Variant(Variant(value).toBool());
    } else if (type == QLatin1String("ui8")) {
        converted = Variant::fromLong(Variant(value).toLong());
    } else if (type == QLatin1String("dateTime")) {
        QString text = value;
        text.replace(QLatin1Char('T'), QLatin1Char(' '));
        converted = Variant::fromDate(Variant(text).toDate());
    } else if (type == QLatin1String("Else")) {
        converted = Variant(value);
    } else {
        return;
    }
    if (!record)
        throw VbError(VbErr::ObjectVariableNotSet);
    std::vector<Variant> args{converted};
    record->invoke(property, CallKind::PropertyLet, args);
}

void XmlConfigImport::AddPendingEvent()
{
    if (!m_pendingEvent)
        return;
    m_pendingEvent->storeField(EventClass::F_ev_conditions, Variant(ObjectPtr(m_pendingConditions)));
    m_pendingEvent->storeField(EventClass::F_ev_devices, Variant(ObjectPtr(m_pendingDevices)));
    EventCollection().add(Variant(ObjectPtr(m_pendingEvent)));
    m_pendingEvent.reset();
}
