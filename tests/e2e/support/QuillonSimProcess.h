#pragma once

#include "WaitUntil.h"

#include <QByteArray>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

// Starts the simulator executable with `args` ("--tcp", "0", ...) and returns the port it
// says it listens on, 0 when it does not come up. What it printed meanwhile is appended to
// `output`, so a test can go on reading its frame log from there.
inline int startQuillonSim(QProcess& sim, const QStringList& args, QByteArray& output)
{
    sim.start(QStringLiteral(QUILLONSIM_EXE), args);
    if (!sim.waitForStarted(10000))
        return 0;
    waitUntil([&] {
        output += sim.readAllStandardOutput();
        return output.contains('\n');
    });
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)")).match(QString::fromLatin1(output));
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

// Ends a simulator a test started, if it still runs; it keeps no state worth a clean stop.
inline void stopQuillonSim(QProcess& sim)
{
    if (sim.state() == QProcess::Running) {
        sim.kill();
        sim.waitForFinished(5000);
    }
}
