#include "core/xap/XapMessage.h"

#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbError.h"
#include "automation/Collection.h"
#include "automation/VbString.h"
#include "automation/Latin1Case.h"

namespace {

const QLatin1StringView kHeaderTemplate("xap-header\n{\nv=13\nhop=1\nuid=");
const QString kUnknown = QStringLiteral("Unknown");
const QChar kLf(10);

}  // namespace

void XapMessage::describe(DispatchTable<XapMessage>& t)
{
    t.name(QStringLiteral("XapMessage"));
    t.method(QStringLiteral("AddHeader"), &XapMessage::AddHeader);
    t.method(QStringLiteral("AddItem"), &XapMessage::AddItem);
    t.method(QStringLiteral("AddSection"), &XapMessage::AddSection);
    t.method(QStringLiteral("CompareAddress"), &XapMessage::CompareAddress);
    t.method(QStringLiteral("CompareClass"), &XapMessage::CompareClass);
    t.method(QStringLiteral("CompareSource"), &XapMessage::CompareSource);
    t.method(QStringLiteral("CompareTarget"), &XapMessage::CompareTarget);
    t.method(QStringLiteral("FromXap"), &XapMessage::FromXap);
    t.method(QStringLiteral("GetItem"), &XapMessage::GetItem);
    t.method(QStringLiteral("Init"), &XapMessage::Init);
    t.property(QStringLiteral("MsgClass"), &XapMessage::MsgClass, &XapMessage::setMsgClass);
    t.property(QStringLiteral("msgSource"), &XapMessage::msgSource, &XapMessage::setMsgSource);
    t.property(QStringLiteral("MsgTarget"), &XapMessage::MsgTarget, &XapMessage::setMsgTarget);
    t.property(QStringLiteral("MsgUID"), &XapMessage::MsgUID, &XapMessage::setMsgUID);
    t.get(QStringLiteral("MsgSection"), &XapMessage::MsgSection);
    t.get(QStringLiteral("msgCollection"), &XapMessage::sectionCollection);
    t.method(QStringLiteral("Reset"), &XapMessage::Reset);
    t.method(QStringLiteral("ToXap"), &XapMessage::ToXap);
}

std::shared_ptr<Collection> XapMessage::sectionCollection(qint16 index) const
{
    const Section* section = msgCollection(index);
    if (!section)
        throw VbError(VbErr::SubscriptOutOfRange);
    auto collection = std::make_shared<Collection>();
    for (qsizetype i = 0; i < section->lines.size(); ++i)
        collection->add(Variant(section->lines.at(i)), section->keys.at(i));
    return collection;
}

FastString& XapMessage::buffer()
{
    if (!m_buffer)
        m_buffer = std::make_unique<FastString>();
    return *m_buffer;
}

int XapMessage::Init(const QString&)
{
    buffer().Reset();
    return 0;
}

int XapMessage::AddHeader()
{
    FastString& out = buffer();
    out.Add(kHeaderTemplate);
    out.Add(m_uid);
    out.Add(QStringLiteral("\nclass="));
    out.Add(m_class);
    out.Add(QStringLiteral("\nsource="));
    out.Add(m_source);
    out.Add(QString(kLf));
    if (!m_target.isEmpty()) {
        out.Add(QStringLiteral("target="));
        out.Add(m_target);
        out.Add(QString(kLf));
    }
    out.Add(QStringLiteral("}\n"));
    m_inSection = false;
    return 0;
}

int XapMessage::AddSection(const QString& section)
{
    FastString& out = buffer();
    if (m_inSection)
        out.Add(QStringLiteral("}\n"));
    out.Add(section);
    out.Add(QStringLiteral("\n{\n"));
    m_inSection = true;
    return 0;
}

int XapMessage::AddItem(const QString&, const QString& item, const QString& value)
{
    FastString& out = buffer();
    out.Add(item);
    out.Add(QStringLiteral("="));
    out.Add(value);
    out.Add(QString(kLf));
    return 0;
}

QString XapMessage::ToXap() const
{
    return (m_buffer ? m_buffer->Value() : QString()) + QStringLiteral("}\n");
}

int XapMessage::FromXap(const QString& rawMessage)
{
    if (rawMessage.isEmpty())
        return 0;
    try {
        parse(rawMessage);
    } catch (...) {
        PendingError::capture();
        WriteLogFile(QStringLiteral("From XAP"), QString());
    }
    return 0;
}

void XapMessage::parse(const QString& raw)
{
    const QStringList lines = raw.split(kLf);
    if (!lines.first().contains(QLatin1StringView("xap-header")))
        return;
    int section = -1;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (line == QLatin1StringView("}")) {
            // A closing "}" with nothing after it is a text that lacks only its final LF:
            // complete, and nothing worth a line in the log.
            if (i + 1 >= lines.size())
                return;
            ++section;
            ++i;
            const QString name = Latin1Case::lower(lines.at(i));
            if (m_sectionIndex.contains(name))
                throw VbError(457, QStringLiteral("This key is already associated with an element of this collection"));
            m_sectionIndex.insert(name, section);
            m_sectionNames.append(name);
            m_sections.append(Section());
            m_hasSections = true;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = Latin1Case::lower(VbString::Trim(line.left(eq)));
        if (section < 0) {
            const QString value = VbString::Trim(line.mid(eq + 1));
            if (key == QLatin1StringView("uid"))
                m_uid = value;
            else if (key == QLatin1StringView("class"))
                m_class = value;
            else if (key == QLatin1StringView("source"))
                m_source = value;
            else if (key == QLatin1StringView("target"))
                m_target = value;
            continue;
        }
        Section& current = m_sections.last();
        if (current.byKey.contains(key))
            throw VbError(457, QStringLiteral("This key is already associated with an element of this collection"));
        current.byKey.insert(key, current.lines.size());
        current.lines.append(line);
        current.keys.append(key);
    }
}

QString XapMessage::GetItem(const QString& section, const QString& item) const
{
    const auto sit = m_sectionIndex.constFind(Latin1Case::lower(section));
    if (sit == m_sectionIndex.constEnd())
        return kUnknown;
    const Section& s = m_sections.at(*sit);
    const auto it = s.byKey.constFind(Latin1Case::lower(item));
    if (it == s.byKey.constEnd())
        return kUnknown;
    const QString& line = s.lines.at(*it);
    return line.mid(line.indexOf(QLatin1Char('=')) + 1);
}

QStringList XapMessage::MsgSection() const
{
    QStringList names = m_sectionNames;
    if (!names.isEmpty() && names.last().isEmpty())
        names.removeLast();
    if (names.isEmpty())
        names.append(QString());
    return names;
}

const XapMessage::Section* XapMessage::msgCollection(int index) const
{
    if (index < 0 || index >= m_sections.size())
        return nullptr;
    return &m_sections.at(index);
}

bool XapMessage::AddressesMatch(const QString& first, const QString& second)
{
    if (first.isEmpty() || second.isEmpty())
        return false;
    const auto parts = [](const QString& address) {
        return Latin1Case::lower(address.section(QLatin1Char(':'), 0, 0)).split(QLatin1Char('.'));
    };
    const QStringList a = parts(first);
    const QStringList b = parts(second);
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (a.at(i) == QLatin1StringView(">") || b.at(i) == QLatin1StringView(">"))
            return true;
        if (a.at(i) != b.at(i) && a.at(i) != QLatin1StringView("*") && b.at(i) != QLatin1StringView("*"))
            return false;
    }
    return a.size() == b.size();
}

bool XapMessage::CompareClass(const QString& cls) const
{
    return cls.compare(m_class, Qt::CaseInsensitive) == 0;
}

bool XapMessage::CompareSource(const QString& source) const
{
    return AddressesMatch(source, m_source);
}

bool XapMessage::CompareTarget(const QString& target) const
{
    return AddressesMatch(target, m_target);
}
