#include "core/Shutdown.h"

#include "core/Globals.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <memory>
#include <vector>

namespace Shutdown {

namespace {

struct State
{
    struct Entry
    {
        quint64 id;
        std::function<void()>* end;
    };
    std::vector<Entry> ends;  // innermost last
    quint64 nextId = 1;
    std::vector<std::function<void()>> afterWaits;
    int exitSaves = 0;
    int cancellable = 0;
    bool cancelled = false;
};

State& state()
{
    static State s;
    return s;
}

// Test observable: with KORVANE_TRACE_WAITS naming a file, every wait appends its name and a
// line end when it begins, so a test can stop the program while it is inside that wait.
void trace(Wait kind)
{
    static const std::shared_ptr<QFile> file = []() -> std::shared_ptr<QFile> {
        const QByteArray path = qgetenv("KORVANE_TRACE_WAITS");
        if (path.isEmpty())
            return nullptr;
        auto f = std::make_shared<QFile>(QString::fromLocal8Bit(path));
        if (!f->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return nullptr;
        return f;
    }();
    if (file)
        file->write(name(kind).toLatin1() + '\n');
}

void runWhenNoWait(std::function<void()> action)
{
    if (!QCoreApplication::instance()) {
        action();
        return;
    }
    // Posted, so that it runs once the handler that waited is back in the event loop; a
    // later wait of the same handler that takes the posted call puts it back.
    QTimer::singleShot(0, QCoreApplication::instance(), [action = std::move(action)]() mutable {
        if (waiting())
            state().afterWaits.push_back(std::move(action));
        else
            action();
    });
}

}  // namespace

WaitScope::WaitScope(Wait kind, std::function<void()> end) : m_end(std::move(end))
{
    trace(kind);
    State& s = state();
    m_id = s.nextId++;
    s.ends.push_back({m_id, &m_end});
    // A wait that begins after shutdown has begun ends as soon as it runs.
    if (waitsEnding() && m_end && QCoreApplication::instance()) {
        QTimer::singleShot(0, QCoreApplication::instance(), [id = m_id] {
            for (const State::Entry& e : state().ends) {
                if (e.id == id && *e.end)
                    (*e.end)();
            }
        });
    }
}

WaitScope::WaitScope(Wait kind, QEventLoop& loop) : WaitScope(kind, [&loop] { loop.quit(); }) {}

WaitScope::~WaitScope()
{
    State& s = state();
    std::erase_if(s.ends, [this](const State::Entry& e) { return e.id == m_id; });
    if (!s.ends.empty() || s.afterWaits.empty())
        return;
    std::vector<std::function<void()>> due;
    due.swap(s.afterWaits);
    for (auto& action : due)
        runWhenNoWait(std::move(action));
}

bool waiting()
{
    return !state().ends.empty();
}

void endWaits()
{
    // A copy: ending a wait may return from it, which takes it off the list.
    std::vector<quint64> ids;
    for (const State::Entry& e : state().ends)
        ids.push_back(e.id);
    for (quint64 id : ids) {
        for (const State::Entry& e : state().ends) {
            if (e.id == id && *e.end) {
                (*e.end)();
                break;
            }
        }
    }
}

void whenNoWait(std::function<void()> action)
{
    if (waiting())
        state().afterWaits.push_back(std::move(action));
    else
        action();
}

CancellableWaits::CancellableWaits()
{
    ++state().cancellable;
}

CancellableWaits::~CancellableWaits()
{
    if (--state().cancellable == 0)
        state().cancelled = false;
}

bool cancelWaits()
{
    State& s = state();
    if (s.cancellable == 0)
        return false;
    s.cancelled = true;
    endWaits();
    return true;
}

bool waitsEnding()
{
    return gShuttingDown || state().cancelled;
}

bool savesAllowed()
{
    return !gShuttingDown || state().exitSaves > 0;
}

ExitSaves::ExitSaves()
{
    ++state().exitSaves;
}

ExitSaves::~ExitSaves()
{
    --state().exitSaves;
}

QString name(Wait kind)
{
    switch (kind) {
    case Wait::ControllerReply: return QStringLiteral("ControllerReply");
    case Wait::LinkOpen: return QStringLiteral("LinkOpen");
    case Wait::LinkDelay: return QStringLiteral("LinkDelay");
    case Wait::ScriptSerialRead: return QStringLiteral("ScriptSerialRead");
    case Wait::ScriptEvents: return QStringLiteral("ScriptEvents");
    case Wait::MacroPause: return QStringLiteral("MacroPause");
    case Wait::ToolRun: return QStringLiteral("ToolRun");
    case Wait::Prompt: return QStringLiteral("Prompt");
    }
    return QString();
}

}  // namespace Shutdown
