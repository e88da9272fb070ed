// The corpus scripts, mutated: flipped bytes, cut-off texts, shuffled tokens
// and lines, lines of one script spliced into another. Whatever comes out of a mutation, the engine must neither crash
// nor trip a sanitizer, and every failure must be a language error that
// names a line of the text.
#include "Interpreter.h"
#include "ScriptControl.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <chrono>

namespace {

// Stands in for the command-line host the corpus scripts talk to.
class SilentHost : public DispatchObject<SilentHost>
{
public:
    static void describe(DispatchTable<SilentHost> &t)
    {
        t.name("WScript");
        t.raw("Echo", [](SilentHost &, CallKind, std::vector<Variant> &) { return Variant(); });
        t.raw("Quit", [](SilentHost &, CallKind, std::vector<Variant> &) { return Variant(); });
    }
};

QStringList corpusTexts()
{
    QStringList texts;
    QDir dir(QStringLiteral(VBS_CORPUS_DIR));
    for (const QString &name : dir.entryList({QStringLiteral("*.vbs")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            texts << QString::fromLatin1(f.readAll());
    }
    return texts;
}

// Splits a text into words and the runs of blanks and signs between them.
QStringList tokens(const QString &text)
{
    QStringList out;
    QString cur;
    auto kind = [](QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') ? 0 : c.isSpace() ? 1 : 2; };
    for (QChar c : text) {
        if (!cur.isEmpty() && (kind(c) != kind(cur.back()) || kind(c) == 2)) {
            out << cur;
            cur.clear();
        }
        cur += c;
    }
    if (!cur.isEmpty())
        out << cur;
    return out;
}

QString mutate(const QString &text, const QStringList &corpus, QRandomGenerator &rng)
{
    static const QStringList inserts = {"If ", "Then", "Else", "End If", "For ", "Next", "Do", "Loop", "Wend",
                                        "(", ")", "\"", ":", "_", "'", ",", ".", "#", "&H", "Class ", "Sub ",
                                        "End Sub", "Set ", "New ", "Me", "Nothing", "Null", "ReDim Preserve ",
                                        "Execute \"", "Eval(\"", "With ", "End With", "Select Case ", "Case "};
    QString s = text;
    if (s.isEmpty())
        return s;
    switch (rng.bounded(7)) {
    case 0: // flip bytes
        for (int n = int(rng.bounded(1, 4)); n > 0; --n) {
            qsizetype at = qsizetype(rng.bounded(quint32(s.size())));
            s[at] = QChar(ushort(s[at].unicode() ^ (1u << rng.bounded(7))));
        }
        return s;
    case 1: // cut off
        return s.left(qsizetype(rng.bounded(quint32(s.size()))));
    case 2: { // swap two tokens
        QStringList t = tokens(s);
        for (int n = int(rng.bounded(1, 4)); n > 0; --n)
            t.swapItemsAt(qsizetype(rng.bounded(quint32(t.size()))), qsizetype(rng.bounded(quint32(t.size()))));
        return t.join(QString());
    }
    case 3: { // drop a token
        QStringList t = tokens(s);
        t.removeAt(qsizetype(rng.bounded(quint32(t.size()))));
        return t.join(QString());
    }
    case 4: { // swap two lines
        QStringList lines = s.split(QLatin1Char('\n'));
        lines.swapItemsAt(qsizetype(rng.bounded(quint32(lines.size()))),
                          qsizetype(rng.bounded(quint32(lines.size()))));
        return lines.join(QLatin1Char('\n'));
    }
    case 5: { // splice in a few lines of another script
        QStringList lines = s.split(QLatin1Char('\n'));
        const QStringList other = corpus[qsizetype(rng.bounded(quint32(corpus.size())))].split(QLatin1Char('\n'));
        qsizetype from = qsizetype(rng.bounded(quint32(other.size())));
        qsizetype count = std::min<qsizetype>(qsizetype(rng.bounded(1, 6)), other.size() - from);
        qsizetype at = qsizetype(rng.bounded(quint32(lines.size() + 1)));
        for (qsizetype i = 0; i < count; ++i)
            lines.insert(at + i, other[from + i]);
        return lines.join(QLatin1Char('\n'));
    }
    default: { // insert a keyword or sign
        QStringList t = tokens(s);
        t.insert(qsizetype(rng.bounded(quint32(t.size() + 1))), inserts[qsizetype(rng.bounded(quint32(inserts.size())))]);
        return t.join(QString());
    }
    }
}

} // namespace

TEST(Fuzz, MutatedCorpusScriptsFailOnlyWithPlacedLanguageErrors)
{
    const QStringList texts = corpusTexts();
    ASSERT_GT(texts.size(), 20);
    QRandomGenerator rng(0x5eed2024);
    const auto started = std::chrono::steady_clock::now();
    const auto budget = std::chrono::seconds(12);
    int runs = 0, failed = 0, completed = 0;
    // At least 500 runs whatever the machine's load; more while the time lasts.
    constexpr int kLeast = 500;
    for (; runs < 3000 && (runs < kLeast || std::chrono::steady_clock::now() - started < budget); ++runs) {
        const QString &original = texts[qsizetype(rng.bounded(quint32(texts.size())))];
        QString text = mutate(original, texts, rng);
        if (rng.bounded(4) == 0)
            text = mutate(text, texts, rng);
        ScriptControl sc;
        sc.setTimeout(40);
        sc.setPromptLog([](const QString &) {});
        sc.AddObject(QStringLiteral("WScript"), std::make_shared<SilentHost>());
        try {
            sc.AddCode(text);
            ++completed;
        } catch (const VbError &e) {
            ++failed;
            EXPECT_NE(e.number, 0) << text.toStdString();
            EXPECT_GE(e.line, 1) << "error " << e.number << " without a line in:\n" << text.toStdString();
            EXPECT_EQ(sc.Error()->Number(), e.number);
        }
        // Ends the run as the host would: the script's objects go now.
        sc.Reset();
    }
    // Enough runs happened, and mutations both broke and kept scripts.
    EXPECT_GE(runs, kLeast);
    EXPECT_GT(failed, runs / 10);
    EXPECT_GT(completed, runs / 20);
}
