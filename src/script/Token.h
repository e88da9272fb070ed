#pragma once

#include "Variant.h"

#include <QString>

// The words VBScript reserves; other names (Default, Explicit, Error, Get,
// Let, Preserve, Property, Resume, Step, GoTo) stay identifiers and the parser
// recognises them by position.
enum class Kw : quint8 {
    None,
    And, ByRef, ByVal, Call, Case, Class, Const, Dim, Do, Each, Else, ElseIf, Empty, End, Eqv,
    Erase, Exit, False, For, Function, If, Imp, In, Is, Loop, Me, Mod, New, Next, Not, Nothing,
    Null, On, Option, Or, Private, Public, ReDim, Select, Set, Sub, Then, To, True, Until, Wend,
    While, With, Xor,
};

enum class Tok : quint8 {
    End,        // end of the text
    NewLine,    // a line end or ':'
    Ident,
    Keyword,
    Number,
    String,
    DateLit,
    LParen, RParen, Comma, Dot,
    Plus, Minus, Star, Slash, Backslash, Caret, Amp,
    Eq, Ne, Lt, Gt, Le, Ge,
};

struct Token {
    Tok type = Tok::End;
    Kw kw = Kw::None;
    bool spaceBefore = false; // blank before it: ".x" after a blank starts a With member
    bool colon = false;       // a NewLine that was ':'
    int line = 1;             // 1-based
    int column = 1;           // 1-based
    QString text;             // identifier as written (for keywords too)
    QString lower;            // identifier lower-cased
    Variant value;            // literals
};
