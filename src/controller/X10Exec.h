#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class Protocol;

// Turns one X10 request (house, units, function, level or data) into the
// controller's X10 frames, each sent and acknowledged in turn.
class X10Exec : public QObject
{
    Q_OBJECT
public:
    explicit X10Exec(Protocol& protocol, QObject* parent = nullptr);
    int ExecX10(const QString& housecode, const QString& devicecode, int command, int brightness,
                int data1, int data2);
    // The frames ExecX10 would send, in order (empty when nothing is sent).
    static QList<QByteArray> BuildFrames(const QString& housecode, const QString& devicecode,
                                         int command, int brightness, int data1, int data2);

private:
    Protocol& m_protocol;
};
