#pragma once

#include "automation/Variant.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

class ScriptControl;
class ScriptModule;

// One script file loaded into a named module of the shared script engine,
// with its #include directives expanded (included files' code goes in
// first). The module and its code belong to the engine: they stay when this
// object goes.
class Script
{
public:
    // Included files nest at most this deep (the loaded file counts as one).
    static constexpr int kMaxIncludeDepth = 16;
    // The code of all files of one load together, in characters (the #include lines left
    // out). Far above any script a user writes, and small enough that reading it never holds
    // the program for long nor takes much memory, whoever wrote the file (a script can write
    // files).
    static constexpr qint64 kMaxLoadChars = 1024 * 1024;
    // One file as read, #include lines and all.
    static constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;

    // Loads into the shared engine the host's hooks give.
    Script();
    // Loads into this engine (a caller that owns the engine).
    explicit Script(std::shared_ptr<ScriptControl> engine);

    double FileDate() const { return m_fileDate; }
    QString filename() const { return m_file; }

    // Adds a fresh module of that name to the engine and loads the file into it.
    void Add(const QString &file, const QString &module);
    // Calls the procedure with the one parameter; Empty after an error, which is logged.
    Variant Run(const QString &procedure, const Variant &parameter);

    // Loads the file into module "M1" and runs the procedure: the host's
    // RunEx, also used for scripts registered for status changes.
    static Variant RunFile(const QString &file, const QString &procedure, const Variant &parameter);

    // Where a script name points: a name with ":" or "\\" (or an absolute
    // path) is taken as it is, one beginning with "\" lies below the program
    // folder's Scripts folder, any other name inside it.
    static QString ResolvePath(const QString &name);

private:
    struct Loading {
        QStringList open; // canonical paths of the files being expanded, outermost first
        QSet<QString> expanded; // canonical paths already expanded by this load
        QHash<QString, QString> canonical; // a directive's name, to its file's canonical path ("" when none)
        QStringList problems; // logged once, together, when the load ends
        qint64 chars = 0; // code added so far
    };

    void AccumulateReferences(const QString &file, Loading &loading);
    void addText(const QString &file, const QString &text);

    std::shared_ptr<ScriptControl> m_engine;
    std::shared_ptr<ScriptModule> m_module;
    QString m_moduleName;
    QString m_file;
    bool m_missing = false; // the file Add was given was not there
    double m_fileDate;
};
