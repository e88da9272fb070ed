#pragma once

#include <QString>
#include <QStringList>

// Builds long texts from many small pieces; the pieces are joined once, when Value is read.
class FastString
{
public:
    FastString();

    void Reset();
    void Add(const QString& piece);
    void Add(QLatin1StringView piece) { Add(QString(piece)); }
    void Add(const char* piece) { Add(QString::fromLatin1(piece)); }
    void Add(qint64 number) { Add(QString::number(number)); }
    void Add(int number) { Add(QString::number(number)); }
    QString Value() const;

private:
    static constexpr int kChunk = 100;
    QStringList m_pieces;
    qsizetype m_length = 0;
};
