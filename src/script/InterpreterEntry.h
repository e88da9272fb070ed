#pragma once

#include "Interpreter.h"

#include <algorithm>
#include <exception>
#include <new>

inline const QString &runtimeErrorSource()
{
    static const QString source = QStringLiteral("Microsoft VBScript runtime error");
    return source;
}

// Marks one entry into the engine from outside (the host, or an object's
// member called from C++): the first one fixes the stack's base, each one
// brings its own time-out and restores the error position when it leaves.
class Interpreter::Entry
{
public:
    explicit Entry(Interpreter &in)
        : m_in(in)
        , m_line(in.m_line)
        , m_column(in.m_column)
        , m_unwinding(std::uncaught_exceptions())
    {
        if (m_in.m_entryDepth++ == 0)
            m_in.m_stackLimit = static_cast<char *>(__builtin_frame_address(0)) - m_in.m_stackBudget;
        auto now = std::chrono::steady_clock::now();
        auto deadline = m_in.timeout > 0 ? now + std::chrono::milliseconds(m_in.timeout)
                                         : std::chrono::steady_clock::time_point::max();
        // A run started from inside another (a script running a script, in this engine or
        // another) cannot outlive the run that started it.
        deadline = std::min(deadline, activeDeadline());
        m_in.m_deadlines.push_back(deadline);
        runningDeadlines().push_back(deadline);
    }
    ~Entry()
    {
        // What the run released on its way out is still the run's, under its time-out.
        if (m_in.m_entryDepth == 1 && !m_in.m_pendingTerminates.empty())
            m_in.runPendingTerminates();
        runningDeadlines().pop_back();
        m_in.m_deadlines.pop_back();
        if (--m_in.m_entryDepth == 0) {
            m_in.m_stackLimit = nullptr;
            for (const ScriptModulePtr &module : m_in.m_modules)
                module->dropReplaced();
        }
        // An error leaving keeps the place where it happened for the report.
        if (std::uncaught_exceptions() == m_unwinding) {
            m_in.m_line = m_line;
            m_in.m_column = m_column;
        }
    }

    // Runs fn; an error leaving it gets the place of the failing statement
    // and is recorded in the Error object.
    template<class F>
    auto guard(F fn) -> decltype(fn())
    {
        try {
            return fn();
        } catch (VbError &e) {
            if (e.line == 0) {
                e.line = m_in.m_line;
                e.column = m_in.m_column;
            }
            if (e.source.isEmpty())
                e.source = runtimeErrorSource();
            m_in.m_error->set(e);
            throw;
        } catch (const ScriptAbort &a) {
            if (a.reason == ScriptAbort::Quit)
                throw;
            VbError e(TimeoutError,
                      stopRequested() ? QStringLiteral("The script was stopped: the program is stopping")
                                      : QStringLiteral("The script ran past its time-out and was stopped"),
                      runtimeErrorSource(), m_in.m_line, m_in.m_column);
            m_in.m_error->set(e);
            throw e;
        } catch (const std::bad_alloc &) {
            VbError e(VbErr::OutOfMemory, {}, runtimeErrorSource(), m_in.m_line, m_in.m_column);
            m_in.m_error->set(e);
            throw e;
        }
    }

private:
    // Whatever this entry allocates is the script's: it may be refused.
    MemoryBudget::ScriptWork m_scriptWork;
    Interpreter &m_in;
    int m_line;
    int m_column;
    int m_unwinding;
};

