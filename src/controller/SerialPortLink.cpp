#include "SerialPortLink.h"
#include "CommsLog.h"

SerialPortLink::SerialPortLink(QObject* parent) : QObject(parent)
{
    m_port.setReadBufferSize(kMaxBuffered);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPortLink::onComm);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPortLink::onError);
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
    if (!open) {
        if (m_port.isOpen())
            m_port.close();
        return true;
    }
    if (m_port.isOpen())
        return true;
    m_port.setPortName(DevicePath(m_commPort));
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        LogControllerError("xaptvkKorvane", "Open Comm Port  " + m_port.portName() + " " + m_port.errorString());
        return false;
    }
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
    LogControllerError("xaptvkKorvane", "Serial port " + m_port.portName() + " error: " + m_port.errorString());
    if (e == QSerialPort::ResourceError && m_port.isOpen()) {
        m_port.close();
        emit linkDown();
    }
}
