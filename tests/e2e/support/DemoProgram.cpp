#include "DemoProgram.h"

#include "FormFields.h"
#include "HttpExchange.h"
#include "QuillonSimProcess.h"
#include "WaitUntil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

using FormFields::attribute;
using FormFields::encode;
using FormFields::unescape;

} // namespace

DemoProgram::DemoProgram()
{
    const QDir demo(QStringLiteral(KORVANE_DEMO_DIR));
    QDirIterator it(demo.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        folder.writeFile(demo.relativeFilePath(file), readFile(file));
    }
}

DemoProgram::~DemoProgram()
{
    if (program)
        program->terminate();
    stopQuillonSim(m_sim);
}

QByteArray DemoProgram::readConfig(const QString &file) const
{
    return readFile(folder.path() + "/Config/" + file);
}

void DemoProgram::editConfig(const QString &file, const QByteArray &old, const QByteArray &line)
{
    QList<QByteArray> lines = readConfig(file).split('\n');
    bool replaced = false;
    for (QByteArray &l : lines) {
        if (!old.isEmpty() && !replaced && l.startsWith(old)) {
            l = line + (l.endsWith('\r') ? "\r" : "");
            replaced = true;
        }
    }
    if (!replaced) {
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        lines.append(line + "\r");
        lines.append(QByteArray());
    }
    folder.writeFile("Config/" + file, lines.join('\n'));
}

bool DemoProgram::start()
{
    if (!listener.listen())
        return false;
    const int simPort = startQuillonSim(m_sim, {"--tcp", "0"}, m_simText);
    if (simPort <= 0)
        return false;
    const QByteArray store = readConfig("tvkXapKorvane.ini");
    webPort = startOnFreeWebPort([&](quint16 port) {
        folder.writeFile("Config/tvkXapKorvane.ini", store);
        editConfig("tvkXapKorvane.ini", "CommPort=",
                   "CommPort=" + QByteArray::number(simPort) + "\r\nHTTPPort=" + QByteArray::number(port));
        program = std::make_unique<KorvaneProcess>(folder, programEnvironment);
        return program->pid();
    });
    if (webPort == 0)
        return false;
    // The page is whole once the plug-in knows the controller's variables
    // (their device codes) and its units.
    return waitUntil([&] { return get().contains("value='[6' name='V5:06DC'"); }, 60000);
}

bool DemoProgram::restart()
{
    if (!stop())
        return false;
    program = std::make_unique<KorvaneProcess>(folder);
    return waitUntil([&] { return get().contains("value='[6' name='V5:06DC'"); }, 60000);
}

bool DemoProgram::stop()
{
    const int code = program ? program->terminate() : -1;
    program.reset();
    return code == 0;
}

QString DemoProgram::url() const
{
    return QStringLiteral("http://127.0.0.1:%1/status").arg(webPort);
}

QByteArray DemoProgram::exchange(const QByteArray &request)
{
    return httpExchange(webPort, request,
                        {.replyMs = 60000, .meanwhile = [this] { m_simText += m_sim.readAllStandardOutput(); }});
}

QByteArray DemoProgram::get()
{
    return exchange("GET /stat HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(webPort) + "\r\n\r\n");
}

QByteArray DemoProgram::postRequest(const Fields &fields) const
{
    const QByteArray host = "127.0.0.1:" + QByteArray::number(webPort);
    return formPost("/stat", host, "http://" + host, encode(fields));
}

QByteArray DemoProgram::post(const Fields &fields)
{
    return exchange(postRequest(fields));
}

std::unique_ptr<QTcpSocket> DemoProgram::postWithoutWaiting(const Fields &fields)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, webPort);
    if (!socket->waitForConnected(5000))
        return nullptr;
    socket->write(postRequest(fields));
    socket->flush();
    return socket;
}

DemoProgram::Fields DemoProgram::collectForm(const QString &page)
{
    return FormFields::collect(page);
}

QString DemoProgram::value(const Fields &fields, const QString &name)
{
    for (const auto &[k, v] : fields)
        if (k == name)
            return v;
    return QStringLiteral("<absent>");
}

void DemoProgram::set(Fields &fields, const QString &name, const QString &v)
{
    for (auto &f : fields)
        if (f.first == name) {
            f.second = v;
            return;
        }
    fields.append({name, v});
}

void DemoProgram::remove(Fields &fields, const QString &name)
{
    fields.removeIf([&](const QPair<QString, QString> &f) { return f.first == name; });
}

QMap<QString, QString> DemoProgram::settings() const
{
    QMap<QString, QString> out;
    for (const char *file : {"tvkXapKorvane.ini", "xaptvkKorvane.ini"}) {
        QString section;
        for (const QByteArray &raw : readConfig(QString::fromLatin1(file)).split('\n')) {
            const QString line = QString::fromLatin1(raw).trimmed();
            if (line.startsWith('[') && line.endsWith(']') && !line.contains('=')) {
                section = line.toUpper();
                continue;
            }
            const qsizetype eq = line.indexOf('=');
            if (eq <= 0)
                continue;
            QString value = line.mid(eq + 1);
            // A stored device's status, value and time of change follow the
            // controller, not the page: they are left out.
            if (section == QLatin1String("[PLUGINDEVICES]")) {
                QStringList fields = value.split(';');
                for (int i = 7; i <= 9 && i < fields.size(); ++i)
                    fields[i] = QStringLiteral("*");
                value = fields.join(';');
            }
            out.insert(QString::fromLatin1(file) + '/' + section + '/' + line.left(eq), value);
        }
    }
    return out;
}

QStringList DemoProgram::changed(const QMap<QString, QString> &before, const QMap<QString, QString> &after)
{
    QStringList out;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (!after.contains(it.key()) || after.value(it.key()) != it.value())
            out << it.key();
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        if (!before.contains(it.key()))
            out << it.key();
    out.sort();
    return out;
}

bool DemoProgram::sent(const QByteArray &text) const
{
    for (const QByteArray &d : listener.received)
        if (d.contains(text))
            return true;
    return false;
}

const QByteArray &DemoProgram::simOutput()
{
    m_simText += m_sim.readAllStandardOutput();
    return m_simText;
}
