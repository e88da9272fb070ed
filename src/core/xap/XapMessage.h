#pragma once

#include "core/FastString.h"

#include "automation/Dispatch.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// One xAP message: built as text (header, then sections of key=value lines) or parsed from
// a received text. A missing header field or item reads "Unknown".
class Collection;

class XapMessage : public DispatchObject<XapMessage>
{
public:
    static void describe(DispatchTable<XapMessage>& t);

    // The raw lines of one section, each found by its lower-cased, trimmed key.
    struct Section {
        QStringList lines;
        QStringList keys;
        QHash<QString, qsizetype> byKey;
    };

    // Building
    int Init(const QString& message = QString());
    int AddHeader();
    int AddSection(const QString& section);
    int AddItem(const QString& section, const QString& item, const QString& value);
    QString ToXap() const;

    // Parsing and reading
    int FromXap(const QString& rawMessage);
    QString GetItem(const QString& section, const QString& item) const;
    QStringList MsgSection() const;
    const Section* msgCollection(int index) const;
    int Reset() { return 0; }
    // The raw lines of one section as a collection keyed by item key (for scripts).
    std::shared_ptr<Collection> sectionCollection(qint16 index) const;

    // Comparing. Addresses match ignoring case and sub-addresses; "*" matches one part,
    // ">" the rest.
    static bool AddressesMatch(const QString& first, const QString& second);
    bool CompareAddress(const QString& first, const QString& second) const { return AddressesMatch(first, second); }
    bool CompareClass(const QString& cls) const;
    bool CompareSource(const QString& source) const;
    bool CompareTarget(const QString& target) const;

    QString MsgClass() const { return m_class; }
    void setMsgClass(const QString& v) { m_class = v; }
    QString msgSource() const { return m_source; }
    void setMsgSource(const QString& v) { m_source = v; }
    QString MsgTarget() const { return m_target; }
    void setMsgTarget(const QString& v) { m_target = v; }
    QString MsgUID() const { return m_uid; }
    void setMsgUID(const QString& v) { m_uid = v; }

private:
    void parse(const QString& raw);

    FastString& buffer();

    std::unique_ptr<FastString> m_buffer;
    QString m_class = QStringLiteral("Unknown");
    QString m_target = QStringLiteral("Unknown");
    QString m_source = QStringLiteral("Unknown");
    QString m_uid = QStringLiteral("Unknown");
    QHash<QString, int> m_sectionIndex;  // lower-cased name -> section number
    QStringList m_sectionNames;          // in order of appearance, lower-cased
    QList<Section> m_sections;
    bool m_inSection = false;
    bool m_hasSections = false;
};
