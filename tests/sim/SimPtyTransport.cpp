#include "SimPtyTransport.h"

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

SimPtyTransport::SimPtyTransport(QObject* parent) : SimTransport(parent)
{
    m_retry.setInterval(5);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &SimPtyTransport::flushPending);
}

SimPtyTransport::~SimPtyTransport() { close(); }

void SimPtyTransport::close()
{
    m_notifier.reset();
    m_retry.stop();
    m_pending.clear();
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    if (m_master >= 0)
        ::close(m_master);
    m_slaveKeeper = m_master = -1;
}

bool SimPtyTransport::open()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return false;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // A program started later must not inherit the controller's end: closing it
    // here would then not reach the program's side of the line.
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    // Holding the slave open keeps the master readable (no EIO) between the
    // program's opens, and a raw line discipline keeps bytes from being echoed.
    m_slaveKeeper = ::open(m_slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slaveKeeper >= 0) {
        termios t{};
        if (::tcgetattr(m_slaveKeeper, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(m_slaveKeeper, TCSANOW, &t);
        }
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SimPtyTransport::onReadable);
    return true;
}

void SimPtyTransport::onReadable()
{
    QByteArray got;
    char buf[512];
    for (;;) {
        ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, n);
            continue;
        }
        break;
    }
    if (!got.isEmpty())
        emit bytesReceived(got);
}

void SimPtyTransport::write(const QByteArray& bytes)
{
    m_pending.append(bytes);
    flushPending();
}

void SimPtyTransport::flushPending()
{
    while (!m_pending.isEmpty() && m_master >= 0) {
        ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, qsizetype(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        m_retry.start();
        return;
    }
}

qint64 SimPtyTransport::pendingBytes() const { return m_pending.size(); }
