#pragma once

#include "PluginTestSupport.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The controller plug-in on the real host, talking to the simulator over
// TCP, and the web server on a free loopback port whose status page carries
// out posted forms. Posts go over a real socket as a browser sends them.
class FormFixture : public PluginFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the plug-in against the simulator and the web server.
    void startAll();

    using Fields = QList<QPair<QString, QString>>;
    // A form body as a browser encodes it (application/x-www-form-urlencoded).
    static QByteArray encode(const Fields &fields);
    // Posts the fields to /stat and returns the whole reply. `origin` is the
    // Origin header; "" sends none.
    QByteArray post(const Fields &fields, const QByteArray &origin = "self", const QByteArray &extraHeaders = "");
    // The same with a body as it stands, escapes and all.
    QByteArray postBody(const QByteArray &body, const QByteArray &origin = "self", const QByteArray &extraHeaders = "");
    QByteArray ownOrigin() const;

    // The device code of controller variable n (0 to 127).
    static QString variableCode(int n);
    QString configText(const QString &name) const { return QString::fromLatin1(readConfig(name)); }
    // The INI value as the file holds it, or "<none>".
    QString iniValue(const QString &file, const QString &section, const QString &key) const;

    // Whether a log entry made since the test began holds the text.
    bool loggedSince(const QString &text) const;

    quint16 webPort = 0;
    int logMark = 0;
    int pagesBuilt = 0; // whole pages received
};
