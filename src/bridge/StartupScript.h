#pragma once

#include "automation/Variant.h"

#include <QString>
#include <memory>

class ScriptControl;
class ScriptModule;

// One script file loaded into a named module of the shared script engine,
// and run a procedure at a time. Syntax and run errors are logged, never
// raised.
class StartupScript
{
public:
    explicit StartupScript(std::shared_ptr<ScriptControl> engine);

    // Adds the module and loads the file (from the Scripts folder unless the
    // name holds a path); a missing file adds no code.
    void Add(const QString &file, const QString &module);
    // Runs the procedure with one text parameter; Empty after an error.
    Variant Run(const QString &procedure, const QString &parameter);

    QString filename() const { return m_file; }

private:
    std::shared_ptr<ScriptControl> m_engine;
    std::shared_ptr<ScriptModule> m_module;
    QString m_file;
};

// Where a script file name points: kept when it holds a drive or a share
// path, else in the program's Scripts folder.
QString ScriptFilePath(const QString &file);
