#include "SyntaxError.h"

#include <QHash>

namespace SyntaxError {

QString description(qint32 number)
{
    static const QHash<qint32, QString> texts = {
        {Syntax, QStringLiteral("Syntax error")},
        {ExpectedColon, QStringLiteral("Expected ':'")},
        {ExpectedLParen, QStringLiteral("Expected '('")},
        {ExpectedRParen, QStringLiteral("Expected ')'")},
        {ExpectedIdentifier, QStringLiteral("Expected identifier")},
        {ExpectedEquals, QStringLiteral("Expected '='")},
        {ExpectedIf, QStringLiteral("Expected 'If'")},
        {ExpectedTo, QStringLiteral("Expected 'To'")},
        {ExpectedEnd, QStringLiteral("Expected 'End'")},
        {ExpectedFunction, QStringLiteral("Expected 'Function'")},
        {ExpectedSub, QStringLiteral("Expected 'Sub'")},
        {ExpectedThen, QStringLiteral("Expected 'Then'")},
        {ExpectedWend, QStringLiteral("Expected 'Wend'")},
        {ExpectedLoop, QStringLiteral("Expected 'Loop'")},
        {ExpectedNext, QStringLiteral("Expected 'Next'")},
        {ExpectedCase, QStringLiteral("Expected 'Case'")},
        {ExpectedSelect, QStringLiteral("Expected 'Select'")},
        {ExpectedExpression, QStringLiteral("Expected expression")},
        {ExpectedStatement, QStringLiteral("Expected statement")},
        {ExpectedEndOfStatement, QStringLiteral("Expected end of statement")},
        {ExpectedInteger, QStringLiteral("Expected integer constant")},
        {ExpectedWhileUntil, QStringLiteral("Expected 'While' or 'Until'")},
        {ExpectedWith, QStringLiteral("Expected 'With'")},
        {InvalidNumber, QStringLiteral("Invalid number")},
        {InvalidCharacter, QStringLiteral("Invalid character")},
        {UnterminatedString, QStringLiteral("Unterminated string constant")},
        {InvalidMe, QStringLiteral("Invalid use of 'Me' keyword")},
        {LoopWithoutDo, QStringLiteral("'loop' without 'do'")},
        {InvalidExit, QStringLiteral("Invalid 'exit' statement")},
        {InvalidForVariable, QStringLiteral("Invalid 'for' loop control variable")},
        {NameRedefined, QStringLiteral("Name redefined")},
        {MustBeFirstStatement, QStringLiteral("Must be first statement on the line")},
        {ParenthesesOnSubCall, QStringLiteral("Cannot use parentheses when calling a Sub")},
        {ExpectedLiteral, QStringLiteral("Expected literal constant")},
        {ExpectedIn, QStringLiteral("Expected 'In'")},
        {ExpectedClass, QStringLiteral("Expected 'Class'")},
        {MustBeInClass, QStringLiteral("Must be defined inside a Class")},
        {ExpectedLetSetGet, QStringLiteral("Expected Let or Set or Get in property declaration")},
        {ExpectedProperty, QStringLiteral("Expected 'Property'")},
        {MultipleDefaults, QStringLiteral("Cannot have multiple default property/method in a Class")},
        {InitTerminateArgs, QStringLiteral("Class initialize or terminate do not have arguments")},
        {PropertyNeedsArgument, QStringLiteral("Property set or let must have at least one argument")},
        {UnexpectedNext, QStringLiteral("Unexpected 'Next'")},
        {DefaultOnlyOnProcedures, QStringLiteral("'Default' specification can only be on Property Get, Function or Sub")},
        {DefaultNeedsPublic, QStringLiteral("'Default' specification must also specify 'Public'")},
        {DefaultOnlyOnGet, QStringLiteral("'Default' specification can only be on Property Get")},
    };
    return texts.value(number, QStringLiteral("Syntax error"));
}

VbError make(qint32 number, int line, int column)
{
    return VbError(number, description(number), QStringLiteral("Microsoft VBScript compilation error"), line, column);
}

} // namespace SyntaxError
