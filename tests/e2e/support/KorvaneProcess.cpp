#include "KorvaneProcess.h"

#include "XapListener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSysInfo>

#include <sys/resource.h>

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
                               qint64 fileSizeLimit)
{
    if (fileSizeLimit > 0) {
        // Set in the child before exec, as a service manager or a container would.
        m_process.setChildProcessModifier([fileSizeLimit] {
            const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
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

qint64 KorvaneProcess::residentKb() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
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

quint16 boundXapPort(qint64 pid)
{
    QSet<QByteArray> inodes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget().isEmpty() ? QFile::symLinkTarget(fd.filePath()) : fd.symLinkTarget();
        const QString name = QFileInfo(target).fileName();
        if (name.startsWith(QStringLiteral("socket:[")))
            inodes.insert(name.mid(8, name.size() - 9).toLatin1());
    }
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 10 || !inodes.contains(f.at(9)))
            continue;
        const QList<QByteArray> local = f.at(1).split(':');
        if (local.size() != 2 || local.at(0) != "0100007F")
            continue;
        const quint16 port = quint16(local.at(1).toUInt(nullptr, 16));
        if (port >= 32768)
            return port;
    }
    return 0;
}
