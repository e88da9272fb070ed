#include "ScriptError.h"

void ScriptError::describe(DispatchTable<ScriptError> &t)
{
    t.name(QStringLiteral("Error"));
    t.get(QStringLiteral("Number"), &ScriptError::Number);
    t.get(QString(), &ScriptError::Number);
    t.get(QStringLiteral("Description"), &ScriptError::Description);
    t.get(QStringLiteral("Source"), &ScriptError::Source);
    t.get(QStringLiteral("Line"), &ScriptError::Line);
    t.get(QStringLiteral("Column"), &ScriptError::Column);
    t.get(QStringLiteral("Text"), &ScriptError::Text);
    t.method(QStringLiteral("Clear"), &ScriptError::Clear);
}

void ScriptError::set(const VbError &error, const QString &text)
{
    m_error = error;
    m_text = text;
}

void ScriptError::clear()
{
    m_error = VbError();
    m_text.clear();
}
