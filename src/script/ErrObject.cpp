#include "ErrObject.h"

void ErrObject::describe(DispatchTable<ErrObject> &t)
{
    t.name(QStringLiteral("ErrObject"));
    t.property(QStringLiteral("Number"), &ErrObject::Number, &ErrObject::setNumber);
    t.property(QString(), &ErrObject::Number, &ErrObject::setNumber);
    t.property(QStringLiteral("Description"), &ErrObject::Description, &ErrObject::setDescription);
    t.property(QStringLiteral("Source"), &ErrObject::Source, &ErrObject::setSource);
    t.property(QStringLiteral("HelpFile"), &ErrObject::HelpFile, &ErrObject::setHelpFile);
    t.property(QStringLiteral("HelpContext"), &ErrObject::HelpContext, &ErrObject::setHelpContext);
    t.method(QStringLiteral("Raise"), &ErrObject::Raise);
    t.method(QStringLiteral("Clear"), &ErrObject::Clear);
}

void ErrObject::set(const VbError &error)
{
    m_number = error.number;
    m_description = error.description;
    m_source = error.source;
    m_helpFile = error.helpFile;
    m_helpContext = error.helpContext;
}

void ErrObject::clear()
{
    m_number = 0;
    m_description.clear();
    m_source.clear();
    m_helpFile.clear();
    m_helpContext = 0;
}

void ErrObject::setNumber(qint32 number)
{
    m_number = number;
    if (m_description.isEmpty() && number)
        m_description = VbError::standardDescription(number);
}

void ErrObject::Raise(const Variant &number, const Variant &source, const Variant &description,
                      const Variant &helpFile, const Variant &helpContext)
{
    // Error numbers are 1 to 65535, or negative ones made from vbObjectError.
    qint32 n = number.toLong();
    if (n == 0 || n > 65535)
        throw VbError(VbErr::InvalidProcedureCall);
    // Left-out arguments take what the Err object still holds from an error
    // nobody cleared.
    QString desc = description.isEmpty() ? m_description : description.toString();
    if (desc.isEmpty())
        desc = (n > 0 && n < 65536) ? VbError::standardDescription(n) : QStringLiteral("Unknown runtime error");
    QString src = source.isEmpty() ? m_source : source.toString();
    if (src.isEmpty())
        src = QStringLiteral("Microsoft VBScript runtime error");
    VbError e(n, desc, src);
    e.helpFile = helpFile.isEmpty() ? m_helpFile : helpFile.toString();
    e.helpContext = helpContext.isEmpty() ? m_helpContext : helpContext.toLong();
    throw e;
}
