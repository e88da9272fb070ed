#pragma once
#include "SimTransport.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>

// The controller's side of the serial protocol: answers block reads, acknowledges
// command and long frames, applies them to its state, sends reports on demand and
// misbehaves on demand.
class QuillonSim : public QObject
{
    Q_OBJECT
public:
    enum class FrameKind { BlockRead, Command, LongFrame, BadCheck, Noise };
    struct Frame
    {
        FrameKind kind;
        QByteArray bytes;
    };

    explicit QuillonSim(QObject* parent = nullptr);
    void attach(SimTransport* transport);
    SimTransport* transport() const { return m_transport; }

    // --- controller state (public so tests can set and inspect it) ---
    quint8 varBlockHigh = 0x4A;
    quint8 varBlockLow = 0x00;
    QVector<quint16> vars = QVector<quint16>(128, 0);
    QVector<quint8> unitTypes = QVector<quint8>(128, 0);
    QByteArray ioBlock = QByteArray(256, '\0');
    quint16 irLocationCount = 1008;
    QVector<quint16> analogValues = QVector<quint16>(128, 0);
    QMap<int, QVector<quint16>> parameterSets; // set number -> 128 values
    QDateTime clock;
    int clockWeekday = -1;
    QByteArray screenText;
    int screenFlags = 0, screenX = 0, screenY = 0;
    int ioSide = -1, x10Side = -1, irSide = -1, touchMode = -1;
    QList<QByteArray> x10Frames;   // every 37 and 61 command as received
    // The X10 frames as the controller reads them: "address A5", "on A",
    // "dim A 11", "preset C 20", "function A 27" (a byte without a meaning),
    // "extended A1 31 02".
    QStringList x10Log;
    // Units' last function, by code ("A5" -> "on", "dim 11", "preset 20"...).
    QMap<QString, QString> x10Units;
    QList<int> irPlayed;           // locations played by the controller itself
    QList<QVector<int>> irZonePlayed; // {module, port, location}
    QList<int> irLearned;          // locations asked to learn
    bool echoX10Transmit = false;  // send FB after each X10 frame
    quint8 ackFirstByte = 0x06;    // first byte of every command's 3-byte answer
    bool ackEchoesCode = true;     // its second byte repeats the command's code (else 00)
    int learnMatchByte = -1;       // >= 0: a learn ends with an FD report carrying it

    // Puts module types at addresses and sets their points to the idle level.
    void setUnit(int address, quint8 type);
    int pointLevel(int module, int point) const;
    void setPointLevel(int module, int point, int level);

    // --- recording ---
    QList<Frame> received;
    int count(FrameKind kind) const;
    QList<QByteArray> framesOf(FrameKind kind) const;
    void clearRecord() { received.clear(); }

    // --- reports ---
    void sendReport(const QByteArray& bytes);
    void sendX10(int house, int x, bool transmitted = false);
    void sendIOChange(int module, int point, int value); // also updates the I/O block
    void sendIRMatch(int a, int b);
    void sendTouch(int value, bool f3 = false);
    void sendFF() { sendReport(QByteArray(1, char(0xFF))); }
    void sendFC() { sendReport(QByteArray::fromHex("FC0000")); }
    void sendRaw(const QByteArray& bytes) { enqueue(bytes); }

    // --- faults ---
    bool silent = false;         // never answers
    int dropAnswers = 0;         // the next n frames get no answer
    int lateAnswerMs = 0;        // every answer comes this late
    QByteArray reportBeforeAnswer; // sent between the next frame and its answer
    int corruptCrcCount = 0;     // the next n block replies carry a bad CRC
    int wrongEchoCount = 0;      // the next n block replies echo another block
    // Block replies that stop short or carry odd headers; faultBlock, when not 0,
    // limits these faults to the block at that address (high byte first).
    quint16 faultBlock = 0;
    int truncateBlockAt = 0;     // the next reply stops after this many bytes
    // >= 0: the rest of a stopped reply follows this many ms later, and what the
    // controller sends meanwhile waits behind it; < 0: the rest never comes.
    int remainderAfterMs = -1;
    int oddHeaderCount = 0;      // the next n replies have header bytes 1, 2 and 5 not zero
    // What may go wrong with one answer. Faults are taken in order, one by each
    // answer to a frame of their kind.
    struct ReplyFault
    {
        FrameKind on = FrameKind::BlockRead; // the kind of frame whose answer it spoils
        bool drop = false;        // no answer at all
        bool lost = false;        // the frame never reached the controller: not carried out, no answer
        int delayMs = 0;          // the whole answer (with what goes around it) this late
        bool oddHeader = false;   // header bytes 1, 2 and 5 of a block reply not zero
        int cutAfter = 0;         // > 0: the answer stops after this many bytes
        int restAfterMs = -1;     // >= 0: the rest of a cut answer this much after the cut; < 0: never
        int endsAt = 0;           // > 0: the rest, when it comes, stops after this many bytes of the answer
        bool packed = false;      // a cut answer and what goes behind it leave in one write
        QByteArray before;        // sent just ahead of the answer
        QByteArray inside;        // sent after the cut part, ahead of the rest
        int insideAfterMs = 0;    // how long after the cut the inside bytes come
        QByteArray after;         // sent right behind the answer (behind the rest, when it comes)
        // > 0: instead of after delayMs, the answer goes out when the nth command
        // frame after it has come in: ahead of that command's acknowledgement, or
        // right behind it.
        int withCommand = 0;
        bool behindThatAck = false;
        // > 0: only the answer to a block read of this address (high byte first).
        quint16 onBlock = 0;
        bool twice = false;       // the whole answer goes out twice, back to back
        // The answer is another block's reply (its header and its data), as a
        // controller that mixed up two requests would send.
        bool otherBlock = false;
        // A set-output command is carried out, then the controller puts the
        // point back as it was by itself and reports that (F0) ahead of the answer.
        bool undone = false;
    };
    QList<ReplyFault> replyFaults;
    // While not empty: the line carries one byte at a time, each followed by
    // the gap at the front (taken off), as a serial server sending every byte
    // in a segment of its own; whatever is sent meanwhile waits its turn.
    QList<int> trickleGapsMs;
    bool closeAfterNextFrame = false;
    bool splitWrites = false;    // answers leave in pieces of 1 to 3 bytes
    // Both directions as on a 9600-baud 8N1 line: ten bit times a byte, one byte
    // after the other; a frame is acted on once its last byte is in.
    bool paced = false;
    static constexpr qint64 kByteNs = 10 * 1000000000LL / 9600;
    void dropConnection();
    // Random bytes in 64 KB blocks for as long as the program takes them.
    void startFlood();
    void stopFlood();
    qint64 flooded() const { return m_flooded; }

    static quint16 crc16(const QByteArray& bytes, int n);
    static quint8 sum8(const QByteArray& bytes, int n);
    QByteArray blockData(quint8 hi, quint8 lo) const;

signals:
    void frameReceived(const QByteArray& bytes);

private:
    void onBytes(const QByteArray& bytes);
    void handleFrame(const Frame& f);
    void answer(const QByteArray& reply);
    void sendAnswer(const QByteArray& reply, const ReplyFault& fault);
    int lineDelayMs(qsizetype bytes) const;
    int msUntil(qint64 dueNs) const;
    // Runs f once the line's clock reaches dueNs.
    void at(qint64 dueNs, const std::function<void()>& f);
    void applyCommand(const QByteArray& f);
    void applyLong(const QByteArray& f);
    void enqueue(const QByteArray& bytes);
    void pump();
    void applyX10(const QByteArray& f);
    void floodTick();
    void releaseHeld();

    QPointer<SimTransport> m_transport;
    QByteArray m_in;
    QByteArray m_out;
    QTimer m_pumpTimer;
    QElapsedTimer m_line;       // the clock of both directions when paced
    qint64 m_outStartNs = 0;    // when the first byte of m_out began on the line
    qint64 m_inFreeNs = 0;      // when the program's last byte has come in whole
    int m_activeParameterSet = -1;
    QList<QPair<int, int>> m_x10Addressed; // house, unit index since the last function
    QTimer m_floodTimer;
    qint64 m_flooded = 0;
    bool m_holding = false; // a stopped reply's rest is still to go
    QByteArray m_held;
    struct Riding
    {
        int commandsLeft;
        bool behind;
        std::function<void()> go;
    };
    QList<Riding> m_riding; // answers waiting for a command frame to go with
    void rideWithCommand(bool behindItsAck);
};
