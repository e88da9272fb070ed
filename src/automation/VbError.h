#pragma once

#include <QString>
#include <exception>
#include <QByteArray>

// A run-time error as VB raises it: the exception travels up to the nearest
// handler, which may turn it into the pending error that LogError reports.
class VbError : public std::exception
{
public:
    VbError() = default;
    explicit VbError(qint32 number, QString description = {}, QString source = {}, int line = 0, int column = 0);

    qint32 number = 0;
    QString description;
    QString source;
    int line = 0;
    int column = 0;
    // Where help on it is found, as Err.Raise was given it.
    QString helpFile;
    qint32 helpContext = 0;

    const char *what() const noexcept override;

    // The text VB gives for its own error numbers ("Overflow" for 6...), or
    // "Unknown runtime error" for numbers it has no text for.
    static QString standardDescription(qint32 number);

private:
    mutable QByteArray m_what;
};

namespace VbErr {
constexpr qint32 InvalidProcedureCall = 5;
constexpr qint32 Overflow = 6;
constexpr qint32 OutOfMemory = 7;
constexpr qint32 SubscriptOutOfRange = 9;
constexpr qint32 ArrayFixedOrLocked = 10;
constexpr qint32 DivisionByZero = 11;
constexpr qint32 TypeMismatch = 13;
constexpr qint32 OutOfStringSpace = 14;
constexpr qint32 OutOfStackSpace = 28;
constexpr qint32 FileNotFound = 53;
constexpr qint32 ObjectVariableNotSet = 91;
constexpr qint32 ForLoopNotInitialized = 92;
constexpr qint32 InvalidUseOfNull = 94;
constexpr qint32 ObjectRequired = 424;
constexpr qint32 CantCreateObject = 429;
constexpr qint32 NotSupported = 438;
constexpr qint32 ArgumentNotOptional = 449;
constexpr qint32 WrongArgumentCount = 450;
constexpr qint32 NotACollection = 451;
constexpr qint32 DuplicateKey = 457;
constexpr qint32 VariableUndefined = 500;
constexpr qint32 IllegalAssignment = 501;
} // namespace VbErr
