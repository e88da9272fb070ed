#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>

// A throw-away program folder whose Config/tvkXap.ini keeps all xAP traffic on loopback.
class ProgramFolder
{
public:
    explicit ProgramFolder(const QByteArray& tvkXapIni = defaultIni());

    static QByteArray defaultIni();
    QString path() const { return m_dir.path(); }
    QString tracePath() const { return m_dir.filePath(QStringLiteral("dispatch.trace")); }
    QString logFile() const { return m_dir.filePath(QStringLiteral("Data/xaptvkKorvane/xaptvkKorvane.txt")); }
    void writeFile(const QString& relative, const QByteArray& data) const;

    // The texts the dispatcher entry received so far, in order.
    QList<QByteArray> dispatched() const;

private:
    QTemporaryDir m_dir;
};

// The real executable, started on a program folder with the dispatch trace switched on.
class KorvaneProcess
{
public:
    // `environment` adds to or replaces variables of this process's environment;
    // `fileSizeLimit`, when above 0, is the program's RLIMIT_FSIZE in bytes; `openFiles`,
    // when its soft limit is above 0, the program's RLIMIT_NOFILE (soft, hard).
    explicit KorvaneProcess(const ProgramFolder& folder, const QList<QPair<QString, QString>>& environment = {},
                            qint64 fileSizeLimit = 0, QPair<qint64, qint64> openFiles = {});
    ~KorvaneProcess();

    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    // Resident memory in kB (VmRSS), -1 when it cannot be read.
    qint64 residentKb() const;
    // The most it has been resident so far, in kB (VmHWM), -1 when it cannot be read.
    qint64 peakResidentKb() const;
    // Sends SIGTERM and waits; returns the exit code, or -1 on a crash or a hang.
    int terminate();
    // Waits for the process to end by itself; returns the exit code, -1 on a crash or a hang.
    int waitForExit();
    QByteArray stderrText() { return m_process.readAllStandardError(); }

private:
    QProcess m_process;
};

// The UDP port the process has bound on 127.0.0.1 from 32768 on (its xAP
// receive port), found from /proc without listening on the xAP port; 0 while none.
quint16 boundXapPort(qint64 pid);

// Runs `start(port)`, which starts the program with its web server on `port` and returns
// its process id (0 when it did not start), on ports from TestPorts until the program
// listens on its port: a port found free can still be taken by another program before
// this one binds it. Returns the port, 0 when the program did not start. A program that
// is not listening after `timeoutMs` keeps its port, for the caller's own wait to report.
quint16 startOnFreeWebPort(const std::function<qint64(quint16 port)>& start, int timeoutMs = 60000);

// "tvk.Korvane." and this machine's name up to its first ".".
QString programSource();

// The heartbeat the program sends once it has bound `port`.
QByteArray expectedHeartbeat(int port);
