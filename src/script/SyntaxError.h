#pragma once

#include "VbError.h"

// Compile-time errors of the language, numbered as VBScript numbers them.
namespace SyntaxError {
constexpr qint32 Syntax = 1002;
constexpr qint32 ExpectedColon = 1003;
constexpr qint32 ExpectedLParen = 1005;
constexpr qint32 ExpectedRParen = 1006;
constexpr qint32 ExpectedIdentifier = 1010;
constexpr qint32 ExpectedEquals = 1011;
constexpr qint32 ExpectedIf = 1012;
constexpr qint32 ExpectedTo = 1013;
constexpr qint32 ExpectedEnd = 1014;
constexpr qint32 ExpectedFunction = 1015;
constexpr qint32 ExpectedSub = 1016;
constexpr qint32 ExpectedThen = 1017;
constexpr qint32 ExpectedWend = 1018;
constexpr qint32 ExpectedLoop = 1019;
constexpr qint32 ExpectedNext = 1020;
constexpr qint32 ExpectedCase = 1021;
constexpr qint32 ExpectedSelect = 1022;
constexpr qint32 ExpectedExpression = 1023;
constexpr qint32 ExpectedStatement = 1024;
constexpr qint32 ExpectedEndOfStatement = 1025;
constexpr qint32 ExpectedInteger = 1026;
constexpr qint32 ExpectedWhileUntil = 1027;
constexpr qint32 ExpectedWith = 1029;
constexpr qint32 InvalidNumber = 1031;
constexpr qint32 InvalidCharacter = 1032;
constexpr qint32 UnterminatedString = 1033;
constexpr qint32 InvalidMe = 1037;
constexpr qint32 LoopWithoutDo = 1038;
constexpr qint32 InvalidExit = 1039;
constexpr qint32 InvalidForVariable = 1040;
constexpr qint32 NameRedefined = 1041;
constexpr qint32 MustBeFirstStatement = 1042;
constexpr qint32 ParenthesesOnSubCall = 1044;
constexpr qint32 ExpectedLiteral = 1045;
constexpr qint32 ExpectedIn = 1046;
constexpr qint32 ExpectedClass = 1047;
constexpr qint32 MustBeInClass = 1048;
constexpr qint32 ExpectedLetSetGet = 1049;
constexpr qint32 ExpectedProperty = 1050;
constexpr qint32 MultipleDefaults = 1052;
constexpr qint32 InitTerminateArgs = 1053;
constexpr qint32 PropertyNeedsArgument = 1054;
constexpr qint32 UnexpectedNext = 1055;
constexpr qint32 DefaultOnlyOnProcedures = 1056;
constexpr qint32 DefaultNeedsPublic = 1057;
constexpr qint32 DefaultOnlyOnGet = 1058;

QString description(qint32 number);
// A compile error at a place in the text, with VBScript's text for it.
VbError make(qint32 number, int line, int column);
} // namespace SyntaxError
