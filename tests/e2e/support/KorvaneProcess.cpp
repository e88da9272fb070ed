#include "KorvaneProcess.h"

#include "TestPorts.h"
#include "WaitUntil.h"
#include "XapListener.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSysInfo>

#include <sys/resource.h>

#include <iostream>

ProgramFolder::ProgramFolder(const QByteArray& tvkXapIni)
{
    writeFile(QStringLiteral("Config/tvkXap.ini"), tvkXapIni);
}

QByteArray ProgramFolder::defaultIni()
{
    return "[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n";
}

void ProgramFolder::writeFile(const QString& relative, const QByteArray& data) const
{
    const QString file = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(file).path());
    QFile out(file);
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    out.write(data);
}

QList<QByteArray> ProgramFolder::dispatched() const
{
    QFile in(tracePath());
    QList<QByteArray> texts;
    if (!in.open(QIODevice::ReadOnly))
        return texts;
    const QByteArray data = in.readAll();
    qsizetype pos = 0;
    while (pos < data.size()) {
        const qsizetype nl = data.indexOf('\n', pos);
        if (nl < 0)
            break;
        const qsizetype size = data.mid(pos, nl - pos).toLongLong();
        if (nl + 1 + size > data.size())
            break;  // still being written
        texts.append(data.mid(nl + 1, size));
        pos = nl + 1 + size;
    }
    return texts;
}

KorvaneProcess::KorvaneProcess(const ProgramFolder& folder, const QList<QPair<QString, QString>>& environment,
                               qint64 fileSizeLimit, QPair<qint64, qint64> openFiles)
{
    if (fileSizeLimit > 0 || openFiles.first > 0) {
        // Set in the child before exec, as a service manager or a container would.
        m_process.setChildProcessModifier([fileSizeLimit, openFiles] {
            if (fileSizeLimit > 0) {
                const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (openFiles.first > 0) {
                const rlimit limit{rlim_t(openFiles.first), rlim_t(openFiles.second)};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
        });
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("KORVANE_TRACE_DISPATCH"), folder.tracePath());
    for (const auto& [name, value] : environment)
        env.insert(name, value);
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    // Another build of the program (a release one, an older one) can be run under the same tests.
    m_process.start(qEnvironmentVariable("KORVANE_PROGRAM_UNDER_TEST", QStringLiteral(KORVANE_EXE)), {QStringLiteral("--app-path"), folder.path()});
    m_process.waitForStarted(10000);
}

KorvaneProcess::~KorvaneProcess()
{
    if (running()) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

namespace {

// A "Name:   123 kB" line of /proc/PID/status.
qint64 statusKb(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

}  // namespace

qint64 KorvaneProcess::residentKb() const
{
    return statusKb(pid(), "VmRSS");
}

qint64 KorvaneProcess::peakResidentKb() const
{
    return statusKb(pid(), "VmHWM");
}

int KorvaneProcess::terminate()
{
    if (running())
        m_process.terminate();
    return waitForExit();
}

int KorvaneProcess::waitForExit()
{
    if (!m_process.waitForFinished(30000) && running())
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString programSource()
{
    const QString host = QSysInfo::machineHostName();
    return QStringLiteral("tvk.Korvane.") + host.section(QLatin1Char('.'), 0, 0);
}

QByteArray expectedHeartbeat(int port)
{
    return "xap-hbeat\n{\nv=13\nhop=1\nuid=FF.00C7:00\nclass=xap-hbeat.alive\nsource=" + programSource().toLatin1()
        + "\ninterval=600\nport=" + QByteArray::number(port) + "\n}\n";
}

namespace {

// The inodes of the process's open sockets.
QSet<QByteArray> socketInodes(qint64 pid)
{
    QSet<QByteArray> inodes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget().isEmpty() ? QFile::symLinkTarget(fd.filePath()) : fd.symLinkTarget();
        const QString name = QFileInfo(target).fileName();
        if (name.startsWith(QStringLiteral("socket:[")))
            inodes.insert(name.mid(8, name.size() - 9).toLatin1());
    }
    return inodes;
}

struct SocketLine
{
    QByteArray address; // hex, as the table has it
    quint16 port = 0;
    QByteArray state;   // "0A": listening
    QByteArray inode;   // "0": no socket left (TIME_WAIT)
};

QList<SocketLine> socketTable(const QString& name)
{
    QList<SocketLine> lines;
    QFile table(QStringLiteral("/proc/net/") + name);
    if (!table.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        const QList<QByteArray> local = f.value(1).split(':');
        if (f.size() < 10 || local.size() != 2)
            continue;
        lines.append({local.at(0), quint16(local.at(1).toUInt(nullptr, 16)), f.at(3), f.at(9)});
    }
    return lines;
}

}  // namespace

quint16 boundXapPort(qint64 pid)
{
    const QSet<QByteArray> inodes = socketInodes(pid);
    for (const SocketLine& s : socketTable(QStringLiteral("udp")))
        if (inodes.contains(s.inode) && s.address == "0100007F" && s.port >= 32768)
            return s.port;
    return 0;
}

quint16 startOnFreeWebPort(const std::function<qint64(quint16)>& start, int timeoutMs)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const quint16 port = TestPorts::tcp();
        const qint64 pid = port ? start(port) : 0;
        if (pid <= 0)
            return 0;
        bool listening = false;
        QByteArray taken;
        QElapsedTimer sinceLook;
        waitUntil([&] {
            // The tables are long while other tests hold thousands of connections: a look
            // now and then leaves the machine to the programs.
            if (sinceLook.isValid() && sinceLook.elapsed() < 100)
                return false;
            sinceLook.start();
            // The tables first: a socket the program makes after its list of sockets was
            // read would pass for another program's.
            const QList<SocketLine> sockets = socketTable(QStringLiteral("tcp")) + socketTable(QStringLiteral("tcp6"));
            const QSet<QByteArray> own = socketInodes(pid);
            for (const SocketLine& s : sockets) {
                if (s.port != port || s.inode == "0")
                    continue;
                listening = listening || (own.contains(s.inode) && s.state == "0A");
                if (!own.contains(s.inode))
                    taken = s.address + " state " + s.state + " inode " + s.inode;
            }
            return listening || !taken.isEmpty();
        }, timeoutMs);
        if (listening || taken.isEmpty())
            return port; // (not up in time: the caller's own wait says what is missing)
        std::cerr << "web port " << port << " was taken first (" << taken.constData()
                  << "); starting again on another\n";
    }
    return 0;
}
