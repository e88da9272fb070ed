#pragma once

#include "FormFields.h"
#include "KorvaneProcess.h"
#include "XapListener.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

#include <memory>
#include <ostream>

// Readable failure messages for the texts and lists these tests compare.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &list, std::ostream *os)
{
    *os << "{\"" << list.join(QStringLiteral("\", \"")).toStdString() << "\"}";
}

// The demo's program folder (settings, scripts, page files) run by the real
// program against the simulator executable, with the status page on a free
// port (chosen by start()). A test may change the demo's settings files before start().
class DemoProgram
{
public:
    using Fields = FormFields::Fields;

    DemoProgram();
    ~DemoProgram();

    // Replaces a whole line of a settings file of the copied demo ("key=value"
    // lines of [tspi_quillon] and others); appends `line` to the file's end
    // when `old` is empty.
    void editConfig(const QString &file, const QByteArray &old, const QByteArray &line);
    // Starts the simulator and the program; true once the page answers.
    bool start();
    // Stops the program (it saves its store); true when it ended cleanly.
    bool stop();
    // Stops the program and starts it again on the same folder and simulator.
    bool restart();

    QString url() const;
    QByteArray get();
    QByteArray post(const Fields &fields);
    // Sends the post and returns at once, the reply left on the socket.
    std::unique_ptr<QTcpSocket> postWithoutWaiting(const Fields &fields);

    // What a browser posts for a page with no button pressed: text and hidden
    // fields and the ticked boxes (value "on" unless given).
    static Fields collectForm(const QString &page);
    static QString value(const Fields &fields, const QString &name);
    static void set(Fields &fields, const QString &name, const QString &value);
    static void remove(Fields &fields, const QString &name);

    // Both settings files as "file/[SECTION]/key" -> value (section names
    // upper-cased; a device's live status, value and time of change as "*").
    QMap<QString, QString> settings() const;
    // The entries of `before` and `after` that differ, added or removed.
    static QStringList changed(const QMap<QString, QString> &before, const QMap<QString, QString> &after);
    // The simulator's frame log so far.
    const QByteArray &simOutput();
    QByteArray readConfig(const QString &file) const;
    // Whether a datagram the program sent (its log entries among them) holds the text.
    bool sent(const QByteArray &text) const;

    XapListener listener{3639, XapListener::AtListen};
    ProgramFolder folder;
    quint16 webPort = 0;
    // Environment the program is started with, besides this process's own.
    QList<QPair<QString, QString>> programEnvironment;
    std::unique_ptr<KorvaneProcess> program;

private:
    QByteArray exchange(const QByteArray &request);
    QByteArray postRequest(const Fields &fields) const;
    QProcess m_sim;
    QByteArray m_simText;
};
