#include "SerialComm.h"
#include "CommsLog.h"
#include "LinkState.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"
#include "core/Globals.h"
#include "core/Shutdown.h"

#include <QElapsedTimer>
#include <QEventLoop>

#include <cerrno>

SerialComm::SerialComm(QObject* parent) : QObject(parent)
{
    m_socket.setReadBufferSize(kMaxBuffered);
    connect(&m_connectTimer, &QTimer::timeout, this, &SerialComm::onConnectTick);
    m_lastingTimer.setSingleShot(true);
    connect(&m_lastingTimer, &QTimer::timeout, this, [this] {
        if (m_socket.state() == QAbstractSocket::ConnectedState) {
            m_closeLogged = false;
            m_outage->lasting(true);
        }
    });
    connect(&m_socket, &QTcpSocket::connected, this, &SerialComm::onConnected);
    connect(&m_socket, &QTcpSocket::disconnected, this, &SerialComm::onDisconnected);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &SerialComm::onError);
    connect(&m_socket, &QTcpSocket::readyRead, this, &SerialComm::onReadyRead);
}

void SerialComm::describe(DispatchTable<SerialComm>& t)
{
    t.name("SerialComm");
    t.method("RegisterCallback", &SerialComm::RegisterCallback);
    t.let("Timeout", &SerialComm::setTimeoutLong);
    t.method("oWinsock_Connect", &SerialComm::oWinsock_Connect);
    t.method("oWinsock_Close", &SerialComm::oWinsock_Close);
    t.let("Settings", &SerialComm::setSettings);
    t.let("RThreshold", &SerialComm::setRThresholdInteger);
    t.let("SThreshold", &SerialComm::setSThresholdInteger);
    t.let("Handshaking", &SerialComm::setHandshakingInteger);
    t.property("CommPort", &SerialComm::CommPortLong, &SerialComm::setCommPortLong);
    t.property("IP", &SerialComm::IP, &SerialComm::setIPText);
    t.let("InputLen", &SerialComm::setInputLenInteger);
    t.let("InputMode", &SerialComm::setInputModeInteger);
    t.property("PortOpen", &SerialComm::PortOpen, &SerialComm::setPortOpen);
    t.method("Shutdown", &SerialComm::Shutdown);
    t.get("InputData", &SerialComm::InputDataVariant);
    t.let("Output", &SerialComm::OutputVariant);
    t.get("ComEvent", &SerialComm::ComEventInteger);
    t.get("InBufferCount", &SerialComm::InBufferCountInteger);
}

void SerialComm::oWinsock_Close()
{
    // The close event: a connection still up goes first, which raises the event itself.
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    else
        onDisconnected();
}

Variant SerialComm::InputDataVariant()
{
    const QByteArray bytes = InputData();
    if (m_inputMode != 1)
        return Variant(AnsiCodePage::decode(bytes));
    std::vector<Variant> values;
    values.reserve(size_t(bytes.size()));
    for (char c : bytes)
        values.push_back(Variant::fromByte(quint8(c)));
    return Variant(VbArray::fromValues(std::move(values)));
}

void SerialComm::OutputVariant(const Variant& value)
{
    QByteArray bytes;
    if (m_inputMode != 1) {
        bytes = AnsiCodePage::encode(value.toString());
    } else if (value.isArray()) {
        for (const Variant& b : value.array().data())
            bytes.append(char(quint8(b.toLong())));
    } else {
        bytes.append(char(quint8(value.toLong())));
    }
    Output(bytes);
}

SerialComm::~SerialComm()
{
    m_shuttingDown = true;
    m_wanted = false;
    m_socket.disconnect(this);
    m_socket.abort();
}

QString SerialComm::label() const
{
    return "SerialComm " + m_ip + ":" + QString::number(m_commPort);
}

int SerialComm::ComEvent() const
{
    // The states the serial-server socket reports, in the numbering of the log texts.
    switch (m_socket.state()) {
    case QAbstractSocket::UnconnectedState: return 0;
    case QAbstractSocket::BoundState: return 1;
    case QAbstractSocket::ListeningState: return 2;
    case QAbstractSocket::HostLookupState: return 4;
    case QAbstractSocket::ConnectingState: return 6;
    case QAbstractSocket::ConnectedState: return 7;
    case QAbstractSocket::ClosingState: return 8;
    }
    return 9;
}

void SerialComm::setPortOpen(bool open)
{
    if (open) {
        m_ticks = 0;
        m_wanted = true;
        // An open does not end an outage (at start-up each side opens the link
        // in turn): only a connection that stays up does.
        m_portOpen = m_socket.state() == QAbstractSocket::ConnectedState || openProcedure();
        return;
    }
    m_wanted = false;
    m_connectTimer.stop();
    bool wasOpen = m_portOpen;
    m_portOpen = false;
    m_socket.abort();
    clearBuffer();
    if (wasOpen)
        emit linkDown();
}

bool SerialComm::openProcedure()
{
    // A TCP port is 16 bits: a larger number must not reach the socket cut down to another server's port.
    if (!m_ip.contains('.') || m_commPort < 101 || m_commPort > 65535) {
        LogControllerError("xaptvkKorvane", label() + " is not valid IP:Port");
        return false;
    }
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        return true;
    if (m_inOpenWait)
        return false; // one open at a time: the running one keeps trying
    m_inOpenWait = true;
    attempt();
    m_connectTimer.start(linkTiming().reconnectMs);
    QEventLoop loop;
    auto c1 = connect(this, &SerialComm::linkUp, &loop, &QEventLoop::quit);
    QTimer tickWatch;
    connect(&tickWatch, &QTimer::timeout, &loop, [&] {
        if (m_ticks >= 6 || !m_wanted || Shutdown::waitsEnding())
            loop.quit();
    });
    tickWatch.start(50);
    if (m_socket.state() != QAbstractSocket::ConnectedState && !Shutdown::waitsEnding()) {
        Shutdown::WaitScope waiting(Shutdown::Wait::LinkOpen, loop);
        loop.exec();
    }
    disconnect(c1);
    m_inOpenWait = false;
    bool ok = m_socket.state() == QAbstractSocket::ConnectedState;
    if (!ok)
        logOutage(label() + " Unable to connect via TCP");
    return ok;
}

void SerialComm::attempt()
{
    m_socket.abort();
    m_socket.connectToHost(m_ip, quint16(m_commPort));
}

void SerialComm::onConnectTick()
{
    ++m_ticks;
    if (m_socket.state() == QAbstractSocket::ConnectedState || !m_wanted || m_shuttingDown) {
        m_connectTimer.stop();
        return;
    }
    attempt();
}

void SerialComm::onConnected()
{
    m_connectTimer.stop();
    m_lastingTimer.start(linkTiming().healthyMs);
    // Whatever was left of the last connection belongs to exchanges long given up.
    clearBuffer();
    // A serial line has no use for coalescing small writes.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_portOpen = true;
    emit linkUp();
}

void SerialComm::onDisconnected()
{
    bool wasOpen = m_portOpen;
    m_portOpen = false;
    m_lastingTimer.stop();
    m_outage->lasting(false);
    if (wasOpen)
        emit linkDown();
    if (!m_wanted || m_shuttingDown)
        return; // closed by us: stays closed
    m_ticks = 0;
    if (!m_connectTimer.isActive())
        m_connectTimer.start(linkTiming().reconnectMs);
    // A server that accepts and closes at once (its port held by another client)
    // is tried once more at once and then once a period, and costs one entry.
    if (m_closeLogged)
        return;
    m_closeLogged = true;
    logOutage(label() + " IP Connection Closed " + QString::number(ComEvent()));
    QTimer::singleShot(0, this, [this] {
        if (m_wanted && !m_shuttingDown && m_socket.state() == QAbstractSocket::UnconnectedState)
            attempt();
    });
}

void SerialComm::onError(QAbstractSocket::SocketError e)
{
    if (m_shuttingDown || !m_wanted || e == QAbstractSocket::RemoteHostClosedError)
        return;
    logOutage(label() + " oWinsock_Error at State " + QString::number(ComEvent()) + ", "
              + QString::number(SystemErrorNumber(e)) + " " + m_socket.errorString());
    if (!m_connectTimer.isActive())
        m_connectTimer.start(linkTiming().reconnectMs);
}

void SerialComm::logOutage(const QString& text)
{
    m_outage->report("xaptvkKorvane", text);
}

int SerialComm::SystemErrorNumber(QAbstractSocket::SocketError e)
{
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError: return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError: return ECONNRESET;
    case QAbstractSocket::HostNotFoundError: return EHOSTUNREACH;
    case QAbstractSocket::SocketAccessError: return EACCES;
    case QAbstractSocket::SocketResourceError: return ENOBUFS;
    case QAbstractSocket::SocketTimeoutError: return ETIMEDOUT;
    case QAbstractSocket::DatagramTooLargeError: return EMSGSIZE;
    case QAbstractSocket::NetworkError: return ENETUNREACH;
    case QAbstractSocket::AddressInUseError: return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError: return EADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError: return EOPNOTSUPP;
    case QAbstractSocket::OperationError: return EINVAL;
    case QAbstractSocket::TemporaryError: return EAGAIN;
    default: return EIO;
    }
}

void SerialComm::clearBuffer()
{
    m_buffer.clear();
    m_head = 0;
}

QByteArray SerialComm::takeFront(qsizetype n)
{
    n = qMin<qsizetype>(n, buffered());
    QByteArray out = m_buffer.mid(m_head, n);
    m_head += n;
    // Read bytes are let go in one move now and then, not one at a time.
    if (m_head == m_buffer.size())
        clearBuffer();
    else if (m_head >= kMaxBuffered / 2) {
        m_buffer.remove(0, m_head);
        m_head = 0;
    }
    return out;
}

void SerialComm::pull()
{
    const qsizetype room = kMaxBuffered - buffered();
    if (room > 0 && m_socket.bytesAvailable() > 0)
        m_buffer.append(m_socket.read(room));
}

void SerialComm::onReadyRead()
{
    pull();
    if (m_rThreshold > 0 && buffered() >= m_rThreshold) {
        emit onComm();
        if (ObjectPtr callback = m_callback) {
            try {
                callback->call("onComm");
            } catch (...) {
                PendingError::clear(); // a failing callback is the caller's business
            }
        }
    }
}

QByteArray SerialComm::InputData()
{
    if (m_inputMode != 1) {
        QByteArray out = takeFront((m_inputLen == 0 || m_inputLen >= buffered()) ? buffered() : m_inputLen);
        pull();
        return out;
    }
    if (buffered() == 0) {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(this, &SerialComm::onComm, &loop, &QEventLoop::quit);
        connect(&m_socket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
        limit.start(m_readTimeoutMs);
        QElapsedTimer t;
        t.start();
        Shutdown::WaitScope waiting(Shutdown::Wait::ScriptSerialRead, loop);
        while (buffered() == 0 && t.elapsed() < m_readTimeoutMs && limit.isActive() && !Shutdown::waitsEnding())
            loop.exec();
    }
    if (buffered() == 0)
        return QByteArray(1, '\0');
    QByteArray out = takeFront(m_inputLen > 0 ? m_inputLen : buffered());
    pull(); // what the bound held back in the socket
    return out;
}

void SerialComm::Output(const QByteArray& bytes)
{
    if (!m_portOpen)
        return;
    m_socket.write(bytes);
    m_socket.flush();
}
