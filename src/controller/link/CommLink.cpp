#include "CommLink.h"
#include "CommsLog.h"
#include "LinkState.h"
#include "SerialComm.h"
#include "SerialPortLink.h"

#include "core/Globals.h"
#include "host/HostGlobals.h"

#include "core/Shutdown.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

CommLink::CommLink(QObject* parent) : QObject(parent), m_serial(new SerialPortLink(this))
{
    m_serial->setOutage(&m_outage);
    connect(m_serial, &SerialPortLink::onComm, this, &CommLink::dataArrived);
    connect(m_serial, &SerialPortLink::linkDown, this, &CommLink::onDown);
    connect(m_serial, &SerialPortLink::linkUp, this, &CommLink::onUp);
}

CommLink::~CommLink()
{
    if (m_tcp) {
        m_tcp->disconnect(this);
        m_tcp->setOutage(nullptr);
        if (gSerialCommLink == m_tcp)
            gSerialCommLink.reset();
    }
}

void CommLink::release(const std::shared_ptr<SerialComm>& tcp)
{
    tcp->disconnect(this);
    tcp->setOutage(nullptr);
    tcp->Shutdown();
    tcp->setPortOpen(false);
    m_released.push_back(tcp);
}

void CommLink::ensureTcp()
{
    auto host = std::dynamic_pointer_cast<SerialComm>(gSerialCommLink);
    if (host && host == m_tcp)
        return;
    if (!host) {
        host = std::make_shared<SerialComm>();
        gSerialCommLink = host;
    }
    // The configuration dialog made a new one for a new address: the old one goes.
    if (m_tcp)
        release(m_tcp);
    m_tcp = host;
    m_tcp->setOutage(&m_outage);
    connect(m_tcp.get(), &SerialComm::onComm, this, &CommLink::dataArrived);
    connect(m_tcp.get(), &SerialComm::linkUp, this, &CommLink::onUp);
    connect(m_tcp.get(), &SerialComm::linkDown, this, &CommLink::onDown);
}

void CommLink::OpenCommLink()
{
    bool open = false;
    m_opening = true;
    if (linkState().UseSerialComm) {
        ensureTcp();
        m_tcp->setIP(linkState().SerialIPAddress);
        m_tcp->setCommPort(linkState().CommPort.trimmed().toLong());
        m_tcp->setInputMode(1);
        m_tcp->setTimeout(1000);
        m_tcp->setRThreshold(1);
        m_tcp->setInputLen(1);
        const std::shared_ptr<SerialComm> tcp = m_tcp; // the shutdown may release it during the connect wait
        tcp->setPortOpen(true);
        open = tcp->PortOpen() && m_tcp == tcp;
    } else {
        m_serial->setCommPort(linkState().CommPort);
        open = m_serial->setPortOpen(true);
    }
    m_opening = false;
    if (open) {
        linkState().PortOpenFlag = true;
        emit portOpenChanged(true);
        CommLink::Delay(linkTiming().linkSettleMs);
        linkState().CommsStarted = linkState().PortOpenFlag;
    }
    LogControllerError("xaptvkKorvane", "Using Comm Port " + linkState().SerialIPAddress + " " + linkState().CommPort);
}

void CommLink::CloseCommLink(bool release)
{
    if (m_tcp) {
        if (release) {
            // Shut down for good: a plug-in started after this one gets a new link object.
            if (gSerialCommLink == m_tcp)
                gSerialCommLink.reset();
            this->release(m_tcp);
            m_tcp.reset();
        } else {
            m_tcp->setPortOpen(false);
        }
    }
    m_serial->setPortOpen(false);
    linkState().PortOpenFlag = false;
    linkState().CommsStarted = false;
    emit portOpenChanged(false);
}

void CommLink::onUp()
{
    if (m_opening)
        return; // OpenCommLink sets the flags itself after its settle time
    linkState().PortOpenFlag = true;
    linkState().CommsStarted = true;
    emit portOpenChanged(true);
    emit linkRestored();
}

void CommLink::onDown()
{
    QElapsedTimer now;
    now.start();
    m_downAtMs = now.msecsSinceReference();
    linkState().PortOpenFlag = false;
    linkState().CommsStarted = false;
    emit portOpenChanged(false);
}

int CommLink::ReadByte()
{
    ++m_readCount;
    if (linkState().UseSerialComm) {
        if (!m_tcp || m_tcp->InBufferCount() == 0)
            return 0;
        QByteArray b = m_tcp->InputData();
        return b.isEmpty() ? 0 : quint8(b[0]);
    }
    return m_serial->ReadByte();
}

int CommLink::PeekByte()
{
    if (linkState().UseSerialComm)
        return m_tcp ? m_tcp->PeekByte() : -1;
    return m_serial->PeekByte();
}

QByteArray CommLink::Peek(int n)
{
    if (linkState().UseSerialComm)
        return m_tcp ? m_tcp->Peek(n) : QByteArray();
    return m_serial->Peek(n);
}

int CommLink::BytesWaiting()
{
    if (linkState().UseSerialComm) {
        if (!m_tcp)
            return 0;
        m_tcp->Refill();
        return m_tcp->InBufferCount();
    }
    return m_serial->InBufferCount();
}

void CommLink::WriteBytes(const QByteArray& bytes)
{
    if (linkState().UseSerialComm) {
        if (m_tcp)
            m_tcp->Output(bytes);
    } else {
        m_serial->Output(bytes);
    }
}

void CommLink::Delay(int ms)
{
    // Once the program is exiting no exchange with the controller is worth waiting for.
    if (ms <= 0 || Shutdown::waitsEnding())
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    Shutdown::WaitScope waiting(Shutdown::Wait::LinkDelay, loop);
    loop.exec();
}
