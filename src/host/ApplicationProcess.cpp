// What scripts and the plug-in ask of the running program: its version and
// folders, the plug-in objects, other programs started, waits, and a few
// values kept for scripts.

#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/Trap.h"
#include "host/clsString.h"

#include "core/CWaitNDispatch.h"
#include "core/Shutdown.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/VbDate.h"
#include "automation/VbString.h"
#include "automation/Latin1Case.h"

#include "script/Interpreter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <limits>

namespace {

bool sNoLog = false;

DictionaryPtr variableNames()
{
    if (!gVariableNames)
        gVariableNames = std::make_shared<Dictionary>(Dictionary::TextCompare);
    return gVariableNames;
}

CollectionPtr plugins()
{
    if (!gPluginCollection)
        gPluginCollection = std::make_shared<Collection>();
    return gPluginCollection;
}

} // namespace

void Application::describeProcess(DispatchTable<Application> &t)
{
    t.get("Version", &Application::Version);
    t.get("InterfaceVersion", &Application::InterfaceVersion);
    t.get("TimeZoneName", &Application::TimeZoneName);
    t.get("GetScriptPath", &Application::GetScriptPath);
    t.method("Launch", &Application::Launch, Optional{2});
    t.method("Keys", &Application::Keys, Optional{1});
    t.get("plugin", &Application::plugin);
    // The collection itself, or with an index or key (the collection's
    // default member applied, as a late-bound caller writes it) one plug-in.
    t.raw("GetPlugins", [](Application &, CallKind kind, std::vector<Variant> &args) -> Variant {
        if (kind == CallKind::PropertyLet || kind == CallKind::PropertySet)
            throw VbError(VbErr::NotSupported);
        CollectionPtr collection = plugins();
        if (args.empty())
            return Variant(ObjectPtr(collection));
        return collection->invoke(QString(), CallKind::Method, args);
    });
    t.get("System", &Application::System);
    t.method("WaitSecs", &Application::WaitSecs);
    t.method("WaitEvents", &Application::WaitEvents);
    t.method("SetLastVoiceCommand", &Application::SetLastVoiceCommand);
    t.get("LastVoiceCommand", &Application::LastVoiceCommand);
    t.property("NoLog", &Application::NoLog, &Application::setNoLog);
    t.property("DebugMode", &Application::DebugMode, &Application::setDebugMode);
    t.method("CreateClassString", &Application::CreateClassString);
    t.method("CreateVar", &Application::CreateVar);
    t.method("DeleteVar", &Application::DeleteVar);
    t.method("StringItem", &Application::StringItem);
    t.get("solarnoon", &Application::solarnoon);
    t.get("NewUpdateAvailable", &Application::NewUpdateAvailable);
}

QString Application::Version()
{
    return QStringLiteral("1.6.174");
}

qint16 Application::InterfaceVersion()
{
    return 2;
}

QString Application::TimeZoneName()
{
    return QStringLiteral("EST");
}

QString Application::GetScriptPath()
{
    return GetAppPath() + QDir::separator() + QStringLiteral("Scripts");
}

int Application::Launch(QString &name, Variant &params, Variant &)
{
    return trapped<int>(QStringLiteral("Launch"), 0, [&] {
        // The name is the program exactly as given: a quote in it would let the text after
        // it become arguments (or another program) once quoted and split.
        for (const QChar c : name) {
            if (c == QLatin1Char('"') || c.unicode() < 0x20 || c.unicode() == 0x7F)
                throw VbError(VbErr::InvalidProcedureCall,
                              QStringLiteral("the program name holds a quote or a control character; not started"));
        }
        if (name.isEmpty())
            throw VbError(VbErr::FileNotFound);
        const QString program = name;
        const QStringList parts = params.isEmpty() ? QStringList() : QProcess::splitCommand(params.toString());
        const QFileInfo file(program);
        if (file.exists() && (!file.isFile() || !file.isExecutable()))
            throw VbError(70, QStringLiteral("Permission denied: ") + program);
        qint64 pid = 0;
        if (!QProcess::startDetached(program, parts, QString(), &pid))
            throw VbError(VbErr::FileNotFound, QStringLiteral("File not found: ") + program);
        return int(pid);
    });
}

void Application::Keys(QString &k, QString &title, Variant &)
{
    LogTrapped(kProgramName,
               QStringLiteral("Keys: no window \"") + title
                   + QStringLiteral("\" can be activated or sent keystrokes here; not sent: ") + k,
               QStringLiteral("Keys"));
}

ObjectPtr Application::plugin(QString &name)
{
    return trapped<ObjectPtr>(QStringLiteral("plugin"), nullptr, [&]() -> ObjectPtr {
        const QString wanted = Latin1Case::lower(name);
        for (const Variant &item : plugins()->items()) {
            ObjectPtr object = item.toObject();
            if (object && Latin1Case::lower(object->get(QStringLiteral("name")).toString()) == wanted)
                return object;
        }
        return nullptr;
    });
}

ObjectPtr Application::System()
{
    return gTSIfaceHandedOut ? ObjectPtr(hs) : nullptr;
}

void Application::WaitSecs(Variant &secs)
{
    trappedVoid(QStringLiteral("WaitSecs"), [&] {
        const qint32 seconds = secs.toLong();
        if (seconds <= 0)
            return;
        if (qint64(seconds) * 1000 > std::numeric_limits<qint32>::max())
            throw VbError(VbErr::Overflow);
        // The wait ends at the running script's time-out, which then stops the script.
        qint64 ms = qint64(seconds) * 1000;
        const auto deadline = Interpreter::activeDeadline();
        if (deadline != std::chrono::steady_clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            ms = std::clamp<qint64>(left.count() + 1, 0, ms);
        }
        if (ms <= 0) {
            Interpreter::checkDeadlineSoon();
            return;
        }
        CWaitNDispatch wait;
        wait.Wait(long(ms));
        if (std::chrono::steady_clock::now() > deadline)
            Interpreter::checkDeadlineSoon();
    });
}

void Application::WaitEvents()
{
    Shutdown::WaitScope waiting(Shutdown::Wait::ScriptEvents);
    QCoreApplication::processEvents();
}

void Application::SetLastVoiceCommand(QString &s)
{
    gLastVoiceCommand = s;
}

QString Application::LastVoiceCommand()
{
    return gLastVoiceCommand;
}

bool Application::NoLog()
{
    return sNoLog;
}

void Application::setNoLog(bool &value)
{
    sNoLog = value;
}

int Application::DebugMode()
{
    return gDebugMode;
}

void Application::setDebugMode(int &value)
{
    gDebugMode = value;
}

ObjectPtr Application::CreateClassString()
{
    return std::make_shared<clsString>();
}

QString Application::CreateVar(QString &name)
{
    return trapped<QString>(QStringLiteral("CreateVar"), QString(), [&] {
        DictionaryPtr names = variableNames();
        if (names->exists(Variant(name)))
            return QStringLiteral("Variable Already Exists");
        names->add(Variant(name), Variant());
        return QString();
    });
}

void Application::DeleteVar(QString &name)
{
    trappedVoid(QStringLiteral("DeleteVar"), [&] {
        DictionaryPtr names = variableNames();
        if (names->exists(Variant(name)))
            names->remove(Variant(name));
    });
}

QString Application::StringItem(QString &st, int &idx, QString &sep)
{
    return trapped<QString>(QStringLiteral("StringItem"), QString(), [&] {
        const QStringList items = VbString::Split(st, sep);
        if (idx < 1 || idx > items.size())
            return QString();
        return items.at(idx - 1);
    });
}

Variant Application::solarnoon()
{
    return Variant::fromDate(VbDate::oleNow());
}

Variant Application::NewUpdateAvailable()
{
    return Variant(QStringList{QString()});
}
