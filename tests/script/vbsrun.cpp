// Runs one script file the way a command-line script host would: a WScript
// object with Echo and Quit; errors go to stderr with their number and place.
#include "Interpreter.h"
#include "automation/AnsiCodePage.h"
#include "ScriptControl.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

QByteArray bytes(const QString &s)
{
    return AnsiCodePage::encode(s);
}

struct QuitRequest {
    int code;
};

class WScriptHost : public DispatchObject<WScriptHost>
{
public:
    explicit WScriptHost(QString path)
        : m_path(std::move(path))
    {
    }

    static void describe(DispatchTable<WScriptHost> &t)
    {
        t.name("WScript");
        t.raw("Echo", [](WScriptHost &, CallKind, std::vector<Variant> &args) -> Variant {
            QString line;
            for (size_t i = 0; i < args.size(); ++i) {
                if (i)
                    line += QLatin1Char(' ');
                const Variant &v = args[i];
                // As the Windows host prints them: Booleans as numbers.
                Variant x = v.isObject() ? v.defaultValue() : v;
                if (x.type() == Variant::Boolean)
                    line += x.rawBool() ? QStringLiteral("-1") : QStringLiteral("0");
                else
                    line += x.isNull() ? QStringLiteral("null") : x.toString();
            }
            QByteArray out = bytes(line);
            out += '\n';
            fwrite(out.constData(), 1, size_t(out.size()), stdout);
            return Variant();
        });
        t.raw("Quit", [](WScriptHost &, CallKind, std::vector<Variant> &args) -> Variant {
            throw ScriptAbort{ScriptAbort::Quit, args.empty() ? 0 : args[0].toLong()};
        });
        t.get("ScriptName", &WScriptHost::scriptName);
        t.get("ScriptFullName", &WScriptHost::scriptFullName);
    }

    QString scriptName() const { return QFileInfo(m_path).fileName(); }
    QString scriptFullName() const { return QFileInfo(m_path).absoluteFilePath(); }

private:
    QString m_path;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        fprintf(stderr, "usage: vbsrun FILE.vbs\n");
        return 2;
    }
    QFile file(args[1]);
    if (!file.open(QIODevice::ReadOnly)) {
        fprintf(stderr, "vbsrun: cannot read %s\n", qPrintable(args[1]));
        return 2;
    }
    QString code = AnsiCodePage::decode(file.readAll());
    ScriptControl control;
    control.setTimeout(ScriptControl::NoTimeout);
    control.setPromptLog([](const QString &text) { fprintf(stderr, "%s\n", bytes(text).constData()); });
    control.AddObject(QStringLiteral("WScript"), std::make_shared<WScriptHost>(args[1]), false);
    int rc = 0;
    try {
        control.AddCode(code);
    } catch (const ScriptAbort &quit) {
        rc = quit.exitCode;
    } catch (const VbError &e) {
        fflush(stdout);
        QString kind = e.source.contains(QLatin1String("compilation")) ? QStringLiteral("compilation")
                                                                        : QStringLiteral("runtime");
        fprintf(stderr, "%s(%d, %d) %s error %d: %s\n", bytes(QFileInfo(args[1]).fileName()).constData(), e.line,
                e.column, qPrintable(kind), e.number, bytes(e.description).constData());
        rc = 1;
    }
    // The script's end releases its variables: Class_Terminate runs now.
    try {
        control.Reset();
    } catch (...) {
    }
    fflush(stdout);
    return rc;
}
