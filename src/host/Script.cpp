#include "host/Script.h"

#include "host/HostHooks.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/AnsiCodePage.h"
#include "automation/MemoryBudget.h"
#include "automation/PendingError.h"
#include "automation/VbDate.h"

#include "script/ScriptControl.h"
#include "script/ScriptError.h"
#include "script/ScriptModule.h"
#include "script/ScriptModules.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString kAccumulateLabel = QStringLiteral("Script-AccumulateReferences ");
const QString kDirective = QStringLiteral("#include");

// One entry for a whole load, however many of its directives were left out: a
// script repeating a bad directive must not flood the log (and the network).
void logLoadProblems(const QStringList &problems)
{
    if (problems.isEmpty())
        return;
    QString text = problems.first();
    if (problems.size() > 1)
        text += QStringLiteral(" (and %1 more)").arg(problems.size() - 1);
    LogMemberError(kProgramName, kAccumulateLabel + text, kAccumulateLabel, text);
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
        LogTrapped(kProgramName, QStringLiteral("Script-Add"));
        return;
    }
    m_missing = !QFileInfo(ResolvePath(file)).isFile();
    Loading loading;
    AccumulateReferences(file, loading);
    logLoadProblems(loading.problems);
}

void Script::AccumulateReferences(const QString &file, Loading &loading)
{
    try {
        auto known = loading.canonical.constFind(file);
        if (known == loading.canonical.constEnd()) {
            const QFileInfo info(ResolvePath(file));
            known = loading.canonical.insert(file, info.isFile() ? info.canonicalFilePath() : QString());
        }
        const QString canonical = *known;
        if (canonical.isEmpty())
            return;
        if (loading.open.contains(canonical)) {
            loading.problems.append(file + QStringLiteral(" includes itself (through ")
                                    + loading.open.join(QStringLiteral(", "))
                                    + QStringLiteral("); the #include is left out"));
            return;
        }
        // Each file's text goes in once: a second copy would only redefine the same code, and
        // expanding it again makes nested includes grow exponentially. Libraries sharing a
        // file is ordinary, so the repeat is left out without a word.
        if (loading.expanded.contains(canonical))
            return;
        if (loading.open.size() >= kMaxIncludeDepth) {
            loading.problems.append(file + QStringLiteral(" is nested deeper than ") + QString::number(kMaxIncludeDepth)
                                    + QStringLiteral(" files; the #include is left out"));
            return;
        }
        QFile in(canonical);
        if (!in.open(QIODevice::ReadOnly))
            throw VbError(VbErr::FileNotFound, in.errorString());
        const QByteArray bytes = in.read(kMaxFileBytes + 1);
        in.close();
        if (bytes.size() > kMaxFileBytes) {
            loading.problems.append(file + QStringLiteral(" is not loaded: a script file may have ") + QString::number(kMaxFileBytes)
                                    + QStringLiteral(" bytes, and it has ") + QString::number(std::max(in.size(), qint64(bytes.size()))));
            return;
        }
        const QString text = AnsiCodePage::decode(bytes);

        loading.open.append(canonical);
        loading.expanded.insert(canonical);
        // Whatever goes wrong below, this file is no longer being expanded.
        struct Pop {
            Loading &l;
            ~Pop() { l.open.removeLast(); }
        } pop{loading};

        // One pass: the text between directives is copied out, the directives are not.
        QString code;
        qsizetype copied = 0;
        qsizetype at = findDirective(text, 0);
        while (at >= 0) {
            code += QStringView(text).mid(copied, at - copied);
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
                loading.problems.append(file + QStringLiteral(": an #include without its closing quote is left out: ")
                                        + text.mid(at, end - at).trimmed());
                copied = end;
            } else {
                AccumulateReferences(text.mid(open + 1, close - open - 1).trimmed(), loading);
                copied = close + 1;
            }
            at = findDirective(text, copied);
        }
        code += QStringView(text).mid(copied);
        if (loading.chars + code.size() > kMaxLoadChars) {
            loading.problems.append(file + QStringLiteral(" is not loaded: a script and its included files may have ")
                                    + QString::number(kMaxLoadChars) + QStringLiteral(" characters of code in all, and it has ")
                                    + QString::number(code.size())
                                    + (loading.chars > 0 ? QStringLiteral(" after ") + QString::number(loading.chars) : QString()));
            return;
        }
        loading.chars += code.size();
        addText(file, code);
    } catch (...) {
        PendingError::capture();
        LogTrapped(kProgramName, kAccumulateLabel);
    }
}

void Script::addText(const QString &file, const QString &text)
{
    bool failed = false;
    try {
        // Read by the program (at start, "Read Script", a status change) it is the program's
        // own load; read for a running script (Run, RunEx) it is that script's work.
        if (MemoryBudget::scriptDriven())
            m_module->AddCode(text);
        else
            m_module->AddProgramText(text);
    } catch (const VbError &) {
        failed = true;
    }
    std::shared_ptr<ScriptError> error = m_engine->Error();
    if (failed || error->Number() != 0) {
        // Inside a run (Run, RunEx) a loop over one failing file would log once per call.
        LogMemberError(kProgramName,
                       QStringLiteral("Error in script syntax") + QStringLiteral(" / ") + CutLogText(file, kPartKept) + QLatin1Char(' ')
                           + CutLogText(error->Description(), kPartKept) + QStringLiteral("@ Line ") + QString::number(error->Line())
                           + QStringLiteral(" col ") + QString::number(error->Column()),
                       QStringLiteral("Error in script syntax"), QString::number(error->Number()) + QLatin1Char(' ') + file);
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
        // Named, and with no line: the caller's line is not where the fault is.
        if (m_missing)
            throw VbError(VbErr::FileNotFound, QStringLiteral("File not found: ") + m_file);
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
    LogMemberError(kProgramName,
                   QStringLiteral("Script Run Error ") + QString::number(failure.number) + QStringLiteral(" - ")
                       + CutLogText(failure.description, kPartKept) + QStringLiteral("@ Script Line ") + QString::number(failure.line)
                       + QStringLiteral(" col ") + QString::number(failure.column),
                   QStringLiteral("Script Run Error"), QString::number(failure.number) + QLatin1Char(' ') + m_file);
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
