#include "host/Script.h"

#include "host/HostHooks.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"
#include "automation/VbDate.h"

#include "script/ScriptControl.h"
#include "script/ScriptError.h"
#include "script/ScriptModule.h"
#include "script/ScriptModules.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString kAccumulateLabel = QStringLiteral("Script-AccumulateReferences ");
const QString kDirective = QStringLiteral("#include");

void logLoadProblem(const QString &text)
{
    LogError(kProgramName, kAccumulateLabel + text);
}

// Case-insensitive search, as the directive may be written in any case.
qsizetype findDirective(const QString &text, qsizetype from)
{
    return text.indexOf(kDirective, from, Qt::CaseInsensitive);
}

} // namespace

Script::Script()
    : m_fileDate(VbDate::dateSerial(1980, 1, 1))
{
}

Script::Script(std::shared_ptr<ScriptControl> engine)
    : m_engine(std::move(engine))
    , m_fileDate(VbDate::dateSerial(1980, 1, 1))
{
}

QString Script::ResolvePath(const QString &name)
{
    if (name.contains(QLatin1Char(':')) || name.contains(QStringLiteral("\\\\")) || name.startsWith(QLatin1Char('/')))
        return name;
    QString relative = name;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    return ResolvePathNoCase(gAppPath, QStringLiteral("Scripts/") + relative);
}

void Script::Add(const QString &file, const QString &module)
{
    m_moduleName = module;
    m_file = file;
    try {
        HostHooks &hooks = HostHooksInstance();
        if (!m_engine)
            m_engine = hooks.scriptEngine.call();
        if (!m_engine)
            throw VbError(VbErr::ObjectVariableNotSet);
        m_module = m_engine->addModule(module);
    } catch (...) {
        m_module.reset();
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Script-Add"));
        return;
    }
    Loading loading;
    AccumulateReferences(file, loading);
}

void Script::AccumulateReferences(const QString &file, Loading &loading)
{
    try {
        const QString path = ResolvePath(file);
        QFileInfo info(path);
        if (!info.isFile())
            return;
        const QString canonical = info.canonicalFilePath();
        if (loading.open.contains(canonical)) {
            logLoadProblem(file + QStringLiteral(" includes itself (through ") + loading.open.join(QStringLiteral(", "))
                           + QStringLiteral("); the #include is left out"));
            return;
        }
        // Each file's text goes in once: a second copy would only redefine the same code, and
        // expanding it again makes nested includes grow exponentially.
        if (loading.expanded.contains(canonical)) {
            logLoadProblem(file + QStringLiteral(" is already included; the #include is left out"));
            return;
        }
        if (loading.open.size() >= kMaxIncludeDepth) {
            logLoadProblem(file + QStringLiteral(" is nested deeper than ") + QString::number(kMaxIncludeDepth)
                           + QStringLiteral(" files; the #include is left out"));
            return;
        }
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly))
            throw VbError(VbErr::FileNotFound, in.errorString());
        QString text = AnsiCodePage::decode(in.readAll());
        in.close();

        loading.open.append(canonical);
        loading.expanded.insert(canonical);
        // Whatever goes wrong below, this file is no longer being expanded.
        struct Pop {
            Loading &l;
            ~Pop() { l.open.removeLast(); }
        } pop{loading};

        qsizetype at = findDirective(text, 0);
        while (at >= 0) {
            // The file's name stands in quotes on the directive's own line: a
            // quote further down belongs to the script's code.
            qsizetype end = text.indexOf(QLatin1Char('\n'), at);
            if (end < 0)
                end = text.size();
            const qsizetype open = text.indexOf(QLatin1Char('"'), at);
            const qsizetype close = open < 0 || open >= end ? -1 : text.indexOf(QLatin1Char('"'), open + 1);
            if (close < 0 || close >= end) {
                // Without its closing quote the directive has no name: it is
                // cut to the end of its line and the scan goes on after it.
                logLoadProblem(file + QStringLiteral(": an #include without its closing quote is left out: ")
                               + text.mid(at, end - at).trimmed());
                text.remove(at, end - at);
                at = findDirective(text, at);
                continue;
            }
            const QString included = text.mid(open + 1, close - open - 1).trimmed();
            AccumulateReferences(included, loading);
            text.remove(at, close - at + 1);
            at = findDirective(text, at);
        }
        addText(file, text);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, kAccumulateLabel);
    }
}

void Script::addText(const QString &file, const QString &text)
{
    bool failed = false;
    try {
        m_module->AddCode(text);
    } catch (const VbError &) {
        failed = true;
    }
    std::shared_ptr<ScriptError> error = m_engine->Error();
    if (failed || error->Number() != 0) {
        LogError(kProgramName, QStringLiteral("Error in script syntax") + QStringLiteral(" / ") + file + QLatin1Char(' ')
                                   + error->Description() + QStringLiteral("@ Line ") + QString::number(error->Line())
                                   + QStringLiteral(" col ") + QString::number(error->Column()));
        error->Clear();
    }
}

Variant Script::Run(const QString &procedure, const Variant &parameter)
{
    std::shared_ptr<ScriptError> error = m_engine ? m_engine->Error() : nullptr;
    if (error)
        error->Clear();
    VbError failure;
    bool failed = false;
    Variant result;
    try {
        if (!m_module)
            throw VbError(VbErr::ObjectVariableNotSet);
        std::vector<Variant> args{parameter};
        result = m_module->Run(procedure, args);
    } catch (const VbError &e) {
        failure = e;
        failed = true;
    } catch (...) {
        failure = VbError(51);
        failed = true;
    }
    if (error && error->Number() != 0) {
        failure = VbError(error->Number(), error->Description(), error->Source(), error->Line(), error->Column());
        failed = true;
    }
    if (!failed)
        return result;
    LogError(kProgramName, QStringLiteral("Script Run Error ") + QString::number(failure.number) + QStringLiteral(" - ")
                               + failure.description + QStringLiteral("@ Script Line ") + QString::number(failure.line)
                               + QStringLiteral(" col ") + QString::number(failure.column));
    if (error)
        error->Clear();
    PendingError::clear();
    return Variant();
}

Variant Script::RunFile(const QString &file, const QString &procedure, const Variant &parameter)
{
    Script script;
    script.Add(file, QStringLiteral("M1"));
    return script.Run(procedure, parameter);
}
