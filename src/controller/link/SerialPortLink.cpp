#include "SerialPortLink.h"
#include "CommsLog.h"
#include "LinkOutage.h"
#include "LinkState.h"

SerialPortLink::SerialPortLink(QObject* parent) : QObject(parent)
{
    m_port.setReadBufferSize(kMaxBuffered);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPortLink::onComm);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPortLink::onError);
    connect(&m_reopen, &QTimer::timeout, this, &SerialPortLink::onReopenTick);
}

QString SerialPortLink::DevicePath(const QString& commPort)
{
    bool ok = false;
    int n = commPort.trimmed().toInt(&ok);
    if (ok)
        return "/dev/ttyS" + QString::number(n - 1);
    return commPort.trimmed();
}

bool SerialPortLink::setPortOpen(bool open)
{
    m_reopen.stop();
    m_outage = false;
    if (!open) {
        if (m_port.isOpen())
            m_port.close();
        return true;
    }
    if (m_port.isOpen())
        return true;
    return openPort(true);
}

bool SerialPortLink::openPort(bool logFailure)
{
    m_port.setPortName(DevicePath(m_commPort));
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        // Each side opens the port at start-up: a port that does not open is one outage.
        if (logFailure)
            report("Open Comm Port  " + m_port.portName() + " " + m_port.errorString());
        return false;
    }
    if (m_linkOutage)
        m_linkOutage->lasting(true);
    // Bytes from before this open belong to nobody.
    m_port.clear(QSerialPort::Input);
    return true;
}

int SerialPortLink::PeekByte()
{
    char c;
    return m_port.peek(&c, 1) == 1 ? quint8(c) : -1;
}

int SerialPortLink::ReadByte()
{
    char c;
    return m_port.read(&c, 1) == 1 ? quint8(c) : 0;
}

void SerialPortLink::Output(const QByteArray& bytes)
{
    if (m_port.isOpen())
        m_port.write(bytes);
}

void SerialPortLink::onError(QSerialPort::SerialPortError e)
{
    if (e == QSerialPort::NoError || e == QSerialPort::TimeoutError)
        return;
    if (e == QSerialPort::OpenError || e == QSerialPort::DeviceNotFoundError || e == QSerialPort::PermissionError)
        return; // reported by setPortOpen
    if (m_outage)
        return; // the port is going or gone; this outage is logged already
    const QString text = "Serial port " + m_port.portName() + " error: " + m_port.errorString();
    if (e != QSerialPort::ReadError && e != QSerialPort::ResourceError) {
        LogControllerError("xaptvkKorvane", text); // a fault on a line that stays
        return;
    }
    // A device that went away keeps signalling until its port is closed: close
    // it once this signal has returned, and open it again until it is back.
    m_outage = true;
    report(text);
    QTimer::singleShot(0, this, &SerialPortLink::closeAfterError);
}

void SerialPortLink::report(const QString& text)
{
    if (m_linkOutage)
        m_linkOutage->report("xaptvkKorvane", text);
    else
        LogControllerError("xaptvkKorvane", text);
}

void SerialPortLink::closeAfterError()
{
    if (!m_outage)
        return; // closed or opened by the plug-in meanwhile
    if (m_port.isOpen())
        m_port.close();
    if (m_linkOutage)
        m_linkOutage->lasting(false);
    m_reopen.start(linkTiming().reconnectMs);
    emit linkDown();
}

void SerialPortLink::onReopenTick()
{
    if (!openPort(false))
        return;
    m_reopen.stop();
    m_outage = false;
    emit linkUp();
}
