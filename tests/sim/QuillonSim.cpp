#include "QuillonSim.h"

#include <QRandomGenerator>

namespace {
constexpr quint8 kBlock = 0x2A;
constexpr quint8 kCommand = 0xC8;
constexpr quint8 kLong = 0xF1;
constexpr int kFloodBlock = 64 * 1024;
// The controller's table of house codes that carry the preset-dim levels 0 to 15.
constexpr int kPresetDimHouse[16] = {12, 13, 14, 15, 2, 3, 0, 1, 4, 5, 6, 7, 10, 11, 8, 9};

QString houseLetter(int h) { return QString(QChar('A' + h)); }

int presetLevel(int houseByte)
{
    for (int k = 0; k < 16; ++k)
        if (kPresetDimHouse[k] == houseByte)
            return k;
    return -1;
}
} // namespace

QuillonSim::QuillonSim(QObject* parent) : QObject(parent)
{
    m_line.start();
    m_pumpTimer.setSingleShot(true);
    m_pumpTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pumpTimer, &QTimer::timeout, this, &QuillonSim::pump);
    m_floodTimer.setInterval(5);
    connect(&m_floodTimer, &QTimer::timeout, this, &QuillonSim::floodTick);
}

void QuillonSim::attach(SimTransport* transport)
{
    m_transport = transport;
    m_in.clear();
    m_out.clear();
    connect(transport, &SimTransport::bytesReceived, this, &QuillonSim::onBytes);
    connect(transport, &SimTransport::clientConnected, this, [this] {
        m_in.clear();
        m_out.clear();
    });
}

quint16 QuillonSim::crc16(const QByteArray& bytes, int n)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= quint16(quint8(bytes[i])) << 8;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

quint8 QuillonSim::sum8(const QByteArray& bytes, int n)
{
    unsigned s = 0;
    for (int i = 0; i < n; ++i)
        s += quint8(bytes[i]);
    return quint8(s & 0xFF);
}

void QuillonSim::setUnit(int address, quint8 type)
{
    if (address < 1 || address > 128)
        return;
    unitTypes[address - 1] = type;
    // Inputs idle high, outputs idle low.
    for (int p = 0; p < 16; ++p) {
        bool output = (type == 11 && p >= 8) || type == 13;
        setPointLevel(address, p, output ? 0 : 1);
    }
}

int QuillonSim::pointLevel(int module, int point) const
{
    int byte = 2 * module - 2 + (point >= 8 ? 1 : 0);
    return (quint8(ioBlock[byte]) >> (point % 8)) & 1;
}

void QuillonSim::setPointLevel(int module, int point, int level)
{
    if (module < 1 || module > 128 || point < 0 || point > 15)
        return;
    int byte = 2 * module - 2 + (point >= 8 ? 1 : 0);
    quint8 v = quint8(ioBlock[byte]);
    quint8 bit = quint8(1u << (point % 8));
    ioBlock[byte] = char(level ? (v | bit) : (v & ~bit));
}

int QuillonSim::count(FrameKind kind) const
{
    int n = 0;
    for (const Frame& f : received)
        n += f.kind == kind;
    return n;
}

QList<QByteArray> QuillonSim::framesOf(FrameKind kind) const
{
    QList<QByteArray> out;
    for (const Frame& f : received)
        if (f.kind == kind)
            out << f.bytes;
    return out;
}

QByteArray QuillonSim::blockData(quint8 hi, quint8 lo) const
{
    QByteArray d(256, '\0');
    auto putWord = [&](int at, quint16 v) {
        d[at] = char(v & 0xFF);
        d[at + 1] = char(v >> 8);
    };
    if (hi == 0x8F && lo == 0xB7) {
        d[12] = char(varBlockHigh);
        d[13] = char(varBlockLow);
    } else if (hi == 0x00 && lo == 0x7F) {
        putWord(244, irLocationCount);
    } else if (hi == 0x01 && lo == 0xB0) {
        for (int i = 0; i < 128; ++i)
            d[i] = char(unitTypes[i]);
    } else if (hi == 0x8D && lo == 0xB5) {
        d = ioBlock;
    } else if (hi == 0x8B && lo == 0xB4) {
        const QVector<quint16>& src = parameterSets.contains(m_activeParameterSet)
            ? parameterSets[m_activeParameterSet] : analogValues;
        for (int i = 0; i < 128 && i < src.size(); ++i)
            putWord(2 * i, src[i]);
    } else if (hi == varBlockHigh && lo == varBlockLow) {
        for (int i = 0; i < 128; ++i)
            putWord(2 * i, vars[i]);
    }
    return d;
}

void QuillonSim::onBytes(const QByteArray& bytes)
{
    m_in.append(bytes);
    while (!m_in.isEmpty()) {
        quint8 b0 = quint8(m_in[0]);
        int need = (b0 == kBlock || b0 == kCommand) ? 8 : b0 == kLong ? 50 : 1;
        if (m_in.size() < need)
            return;
        Frame f{FrameKind::Noise, m_in.left(need)};
        m_in.remove(0, need);
        if (b0 == kBlock)
            f.kind = crc16(f.bytes, 6) == quint16((quint8(f.bytes[6]) << 8) | quint8(f.bytes[7]))
                ? FrameKind::BlockRead : FrameKind::BadCheck;
        else if (b0 == kCommand)
            f.kind = sum8(f.bytes, 7) == quint8(f.bytes[7]) ? FrameKind::Command : FrameKind::BadCheck;
        else if (b0 == kLong)
            f.kind = sum8(f.bytes, 49) == quint8(f.bytes[49]) ? FrameKind::LongFrame : FrameKind::BadCheck;
        received << f;
        emit frameReceived(f.bytes);
        if (paced) {
            // Bytes written at once still come in one after the other.
            m_inFreeNs = qMax(m_inFreeNs, m_line.nsecsElapsed()) + f.bytes.size() * kByteNs;
            at(m_inFreeNs, [this, f] { handleFrame(f); });
        } else {
            handleFrame(f);
        }
    }
}

void QuillonSim::handleFrame(const Frame& f)
{
    if (f.kind == FrameKind::Noise || f.kind == FrameKind::BadCheck)
        return; // a real controller ignores what it cannot check
    if (closeAfterNextFrame) {
        closeAfterNextFrame = false;
        dropConnection();
        return;
    }
    if (silent)
        return;
    if (dropAnswers > 0) {
        --dropAnswers;
        return;
    }
    const QByteArray& b = f.bytes;
    ReplyFault fault;
    const quint16 address = f.kind == FrameKind::BlockRead ? quint16(quint8(f.bytes[3]) << 8 | quint8(f.bytes[4])) : 0;
    for (qsizetype i = 0; i < replyFaults.size(); ++i)
        if (replyFaults[i].on == f.kind && (replyFaults[i].onBlock == 0 || replyFaults[i].onBlock == address)) {
            fault = replyFaults.takeAt(i);
            break;
        }
    if (fault.lost)
        return;
    if (fault.drop) {
        if (f.kind == FrameKind::Command)
            applyCommand(b);
        return;
    }
    if (f.kind == FrameKind::BlockRead) {
        quint8 hi = quint8(b[3]), lo = quint8(b[4]);
        if (fault.otherBlock) {
            hi ^= 0x01;
            lo ^= 0x10;
        }
        const bool faulty = faultBlock == 0 || faultBlock == quint16(hi << 8 | lo);
        bool odd = faulty && oddHeaderCount > 0;
        if (odd)
            --oddHeaderCount;
        odd = odd || fault.oddHeader;
        QByteArray reply;
        reply.append(char(kBlock)).append(odd ? char(0x11) : '\0').append(odd ? char(0x22) : '\0');
        if (wrongEchoCount > 0) {
            --wrongEchoCount;
            reply.append(char(hi ^ 0x01)).append(char(lo ^ 0x10));
        } else {
            reply.append(char(hi)).append(char(lo));
        }
        reply.append(odd ? char(0x55) : '\0');
        reply.append(blockData(hi, lo));
        quint16 crc = crc16(reply, 262);
        if (corruptCrcCount > 0) {
            --corruptCrcCount;
            crc ^= 0x5A5A;
        }
        reply.append(char(crc & 0xFF)).append(char(crc >> 8));
        if (fault.twice)
            reply += reply;
        if (faulty && truncateBlockAt > 0 && truncateBlockAt < reply.size()) {
            const QByteArray rest = reply.mid(truncateBlockAt);
            reply.truncate(truncateBlockAt);
            truncateBlockAt = 0;
            answer(reply);
            if (remainderAfterMs >= 0) {
                // Like a line that stalls: the rest, then whatever queued behind it.
                m_holding = true;
                m_held = rest;
                QTimer::singleShot(remainderAfterMs, this, &QuillonSim::releaseHeld);
            }
            return;
        }
        sendAnswer(reply, fault);
    } else if (f.kind == FrameKind::Command) {
        const int was = quint8(b[1]) == 0x33 ? pointLevel(quint8(b[2]), quint8(b[3])) : 0;
        applyCommand(b);
        if (fault.undone && quint8(b[1]) == 0x33) {
            setPointLevel(quint8(b[2]), quint8(b[3]), was);
            fault.before += QByteArray().append(char(0xF0)).append(b[2]).append(b[3]).append(char(was));
        }
        for (Riding& r : m_riding)
            --r.commandsLeft;
        rideWithCommand(false);
        sendAnswer(QByteArray().append(char(ackFirstByte)).append(ackEchoesCode ? b[1] : '\0').append('\0'), fault);
        quint8 op = quint8(b[1]);
        if ((op == 0x37 || op == 0x61) && echoX10Transmit)
            sendX10(quint8(b[2]), quint8(b[3]), true);
        if (op == 0x5B && learnMatchByte >= 0)
            QTimer::singleShot(50, this, [this] { sendIRMatch(0, learnMatchByte); });
        rideWithCommand(true);
    } else if (f.kind == FrameKind::LongFrame) {
        applyLong(b);
        sendAnswer(QByteArray().append(char(0x06)).append(b[1]).append('\0'), fault);
    }
}

void QuillonSim::rideWithCommand(bool behindItsAck)
{
    for (qsizetype i = 0; i < m_riding.size();) {
        if (m_riding[i].commandsLeft <= 0 && m_riding[i].behind == behindItsAck) {
            const auto go = m_riding.takeAt(i).go;
            go();
        } else {
            ++i;
        }
    }
}

void QuillonSim::applyCommand(const QByteArray& f)
{
    auto u = [&](int i) { return int(quint8(f[i])); };
    switch (u(1)) {
    case 0x28:
        switch (u(2)) {
        case 0x10: ioSide = u(4); break;
        case 0x0F: x10Side = u(4); break;
        case 0x11: irSide = u(4); break;
        case 0x06: touchMode = u(4); break;
        default: break;
        }
        break;
    case 0x29:
        if (u(2) < 128)
            vars[u(2)] = quint16(u(4) * 256 + u(3));
        break;
    case 0x33: setPointLevel(u(2), u(3), u(4) ? 1 : 0); break;
    case 0x1F: m_activeParameterSet = u(2); break;
    case 0x37:
    case 0x61:
        x10Frames << f;
        applyX10(f);
        break;
    case 0x5A: irPlayed << u(3) * 256 + u(2); break;
    case 0x5C: irZonePlayed << QVector<int>{u(2), u(3), u(5) * 256 + u(4)}; break;
    case 0x5B: irLearned << u(3) * 256 + u(2); break;
    default: break;
    }
}

void QuillonSim::applyX10(const QByteArray& f)
{
    auto u = [&](int i) { return int(quint8(f[i])); };
    const int h = u(2);
    if (u(1) == 0x61) {
        const QString unit = houseLetter(h) + QString::number(u(3) + 1);
        x10Log << QString("extended %1 %2 %3").arg(unit, QString::number(u(4), 16).rightJustified(2, '0'),
                                                   QString::number(u(5), 16).rightJustified(2, '0'));
        x10Units[unit] = "extended";
        return;
    }
    const int x = u(3);
    if (x < 16) { // an address: unit x + 1 of house h
        x10Log << "address " + houseLetter(h) + QString::number(x + 1);
        m_x10Addressed << qMakePair(h, x);
        return;
    }
    // A function for the units addressed since the last one; the log names its
    // house, except for a preset dim, whose house byte carries the level instead.
    QString what;
    QString line;
    bool anyHouse = false;
    switch (x) {
    case 0x12: what = "on"; break;
    case 0x13: what = "off"; break;
    case 0x14: what = "dim " + QString::number(u(4)); break;
    case 0x15: what = "bright " + QString::number(u(4)); break;
    case 0x1A:
    case 0x1F: {
        const int k = presetLevel(h);
        what = "preset " + QString::number(x == 0x1F ? k + 16 : k);
        line = what;
        anyHouse = true;
        break;
    }
    default:
        what = "function " + QString::number(x);
        break;
    }
    if (line.isEmpty())
        line = what.section(' ', 0, 0) + " " + houseLetter(h)
            + (what.contains(' ') ? " " + what.section(' ', 1) : QString());
    x10Log << line;
    for (const auto& [ah, ax] : m_x10Addressed)
        if (anyHouse || ah == h)
            x10Units[houseLetter(ah) + QString::number(ax + 1)] = what;
    m_x10Addressed.clear();
}

void QuillonSim::applyLong(const QByteArray& f)
{
    auto u = [&](int i) { return int(quint8(f[i])); };
    if (u(1) == 0x3D) {
        int sec = u(3) * 10 + u(2), min = u(5) * 10 + u(4), hour = u(7) * 10 + u(6);
        int day = u(9) * 10 + u(8), mon = u(11) * 10 + u(10), year = 2000 + u(13) * 10 + u(12);
        clock = QDateTime(QDate(year, mon, day), QTime(hour, min, sec));
        clockWeekday = u(14);
    } else if (u(1) == 0x6D) {
        screenFlags = u(2);
        screenX = u(5) * 256 + u(4);
        screenY = u(7) * 256 + u(6);
        screenText = f.mid(8, qMin(40, u(3)));
    }
}

void QuillonSim::sendAnswer(const QByteArray& reply, const ReplyFault& fault)
{
    if (fault.delayMs == 0 && fault.cutAfter <= 0 && fault.before.isEmpty() && fault.inside.isEmpty()
        && fault.after.isEmpty() && fault.withCommand <= 0) {
        answer(reply);
        return;
    }
    const QByteArray before = reportBeforeAnswer + fault.before;
    reportBeforeAnswer.clear();
    auto go = [this, before, reply, fault] {
        enqueue(before);
        if (fault.cutAfter <= 0 || fault.cutAfter >= reply.size()) {
            enqueue(reply + fault.inside + fault.after);
            return;
        }
        const int cutDoneMs = lineDelayMs(fault.cutAfter);
        if (fault.packed && fault.restAfterMs < 0) {
            enqueue(reply.left(fault.cutAfter) + fault.inside + fault.after);
            return;
        }
        enqueue(reply.left(fault.cutAfter));
        // Reports the controller makes while its answer is stalled go ahead of the rest.
        QTimer::singleShot(cutDoneMs + fault.insideAfterMs, this, [this, inside = fault.inside] {
            const bool holding = m_holding;
            m_holding = false;
            enqueue(inside);
            m_holding = holding;
        });
        if (fault.restAfterMs < 0) {
            QTimer::singleShot(cutDoneMs + fault.insideAfterMs, this, [this, after = fault.after] { enqueue(after); });
            return;
        }
        // A line that stalls mid-answer: whatever the controller sends meanwhile
        // waits behind the rest.
        m_holding = true;
        QTimer::singleShot(cutDoneMs + fault.restAfterMs, this,
                           [this, rest = reply.mid(fault.cutAfter, fault.endsAt > fault.cutAfter
                                                                          ? fault.endsAt - fault.cutAfter
                                                                          : -1)
                                    + fault.after] {
                               m_held.prepend(rest);
                               releaseHeld();
                           });
    };
    if (fault.withCommand > 0)
        m_riding.append({fault.withCommand, fault.behindThatAck, go});
    else if (fault.delayMs > 0)
        QTimer::singleShot(fault.delayMs, this, go);
    else
        go();
}

int QuillonSim::lineDelayMs(qsizetype bytes) const
{
    // Time the bytes queued ahead and these take to go out, so that a delay
    // counts from the cut itself.
    return paced ? int((m_out.size() + bytes) * kByteNs / 1000000) : 0;
}

void QuillonSim::answer(const QByteArray& reply)
{
    QByteArray before = reportBeforeAnswer;
    reportBeforeAnswer.clear();
    auto go = [this, before, reply] {
        if (!before.isEmpty())
            enqueue(before);
        enqueue(reply);
    };
    if (lateAnswerMs > 0)
        QTimer::singleShot(lateAnswerMs, this, go);
    else
        go();
}

void QuillonSim::sendReport(const QByteArray& bytes) { enqueue(bytes); }

void QuillonSim::sendX10(int house, int x, bool transmitted)
{
    sendReport(QByteArray().append(char(transmitted ? 0xFB : 0xFE)).append(char(house)).append(char(x)));
}

void QuillonSim::sendIOChange(int module, int point, int value)
{
    setPointLevel(module, point, value);
    sendReport(QByteArray().append(char(0xF0)).append(char(module)).append(char(point)).append(char(value)));
}

void QuillonSim::sendIRMatch(int a, int b)
{
    sendReport(QByteArray().append(char(0xFD)).append(char(a)).append(char(b)));
}

void QuillonSim::sendTouch(int value, bool f3)
{
    sendReport(QByteArray().append(char(f3 ? 0xF3 : 0xF2)).append('\0').append(char(value)).append('\0').append('\0'));
}

void QuillonSim::dropConnection()
{
    m_out.clear();
    m_held.clear();
    m_holding = false;
    m_riding.clear();
    m_pumpTimer.stop();
    if (m_transport)
        m_transport->disconnectClient();
}

void QuillonSim::releaseHeld()
{
    m_holding = false;
    const QByteArray held = m_held;
    m_held.clear();
    enqueue(held);
}

void QuillonSim::enqueue(const QByteArray& bytes)
{
    if (!m_transport || bytes.isEmpty())
        return;
    if (m_holding) {
        m_held.append(bytes);
        return;
    }
    if (!paced && !splitWrites && m_out.isEmpty()) {
        m_transport->write(bytes);
        return;
    }
    if (m_out.isEmpty()) // an idle line starts at once
        m_outStartNs = m_line.nsecsElapsed();
    m_out.append(bytes);
    if (!m_pumpTimer.isActive())
        pump();
}

void QuillonSim::pump()
{
    if (m_out.isEmpty() || !m_transport)
        return;
    if (!trickleGapsMs.isEmpty()) {
        if (m_line.nsecsElapsed() < m_outStartNs) { // still in the last byte's gap
            m_pumpTimer.start(msUntil(m_outStartNs));
            return;
        }
        m_transport->write(m_out.left(1));
        m_out.remove(0, 1);
        const int gap = trickleGapsMs.takeFirst();
        m_outStartNs = m_line.nsecsElapsed() + qint64(gap) * 1000000;
        if (!m_out.isEmpty())
            m_pumpTimer.start(gap);
        return;
    }
    if (!paced) {
        const int n = 1 + int(QRandomGenerator::global()->bounded(3));
        m_transport->write(m_out.left(n));
        m_out.remove(0, qMin<qsizetype>(n, m_out.size()));
        if (!m_out.isEmpty())
            m_pumpTimer.start(3);
        return;
    }
    // Every byte whose ten bits are on the line by now goes; the next tick is
    // due when the following byte is complete.
    const qint64 now = m_line.nsecsElapsed();
    const qsizetype done = qMin<qsizetype>(m_out.size(), (now - m_outStartNs) / kByteNs);
    if (done > 0) {
        m_transport->write(m_out.left(done));
        m_out.remove(0, done);
        m_outStartNs += done * kByteNs;
    }
    if (m_out.isEmpty())
        return;
    m_pumpTimer.start(msUntil(m_outStartNs + kByteNs));
}

int QuillonSim::msUntil(qint64 dueNs) const
{
    // Timers count whole milliseconds and a byte takes 1.04: they are set to
    // wake no later than due, and the last part is waited out by waking again.
    return int(qMax<qint64>(0, (dueNs - m_line.nsecsElapsed()) / 1000000));
}

void QuillonSim::at(qint64 dueNs, const std::function<void()>& f)
{
    QTimer::singleShot(msUntil(dueNs), Qt::PreciseTimer, this, [this, dueNs, f] {
        if (m_line.nsecsElapsed() < dueNs)
            at(dueNs, f);
        else
            f();
    });
}

void QuillonSim::startFlood()
{
    m_floodTimer.start();
}

void QuillonSim::stopFlood()
{
    m_floodTimer.stop();
}

void QuillonSim::floodTick()
{
    // Only as fast as the program reads: what it leaves unread stays with the line.
    if (!m_transport || !m_transport->isConnected() || m_transport->pendingBytes() > kFloodBlock)
        return;
    QByteArray block(kFloodBlock, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), kFloodBlock / 4);
    m_transport->write(block);
    m_flooded += block.size();
}
