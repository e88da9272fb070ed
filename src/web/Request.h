#pragma once

#include "web/FieldCollection.h"

#include <QString>

// One parsed HTTP request: the path, the method, the header lines as server
// variables, the query-string and form fields. The server makes one per
// received request, sets the peer address and hands it the request text
// (header block and whole body, as 8-bit characters); page builders read it.
class Request
{
public:
    // The named server variable: "HTTP_USER_AGENT" the User-Agent header,
    // "REMOTE_ADDR" the peer address, "LOCAL_ADDR" this server's address on
    // the connection, any other name the header of that name (letter case
    // ignored); "" when missing.
    QString ServerVariables(const QString &name) const;
    void setRemoteip(const QString &address) { m_remoteip = address; }
    // This server's own address on the connection ("LOCAL_ADDR").
    void setLocalip(const QString &address) { m_localip = address; }
    // The same request without its form fields and body (a page built again
    // after its form was carried out).
    Request withoutForm() const;

    QString page() const { return m_page; }       // decoded path without the query
    QString Payload() const { return m_payload; } // decoded body of the request
    QString header() const { return m_header; }   // raw header block from the protocol token on
    QString Query() const { return m_query; }     // "?" and the decoded query, or ""
    QString Method() const { return m_method; }   // as sent; "POSTx" for a POST with its body

    // Field values; "" for a field that is not there.
    QString QueryString(const QString &key) const { return m_queryFields.value(key); }
    QString Form(const QString &key) const { return m_formFields.value(key); }
    const FieldCollection &QueryStringCol() const { return m_queryFields; }
    const FieldCollection &FormCol() const { return m_formFields; }

    // Fills the request from its text. A malformed request line is logged and
    // leaves the fields not reached empty.
    void ParsePage(const QString &sData);
    // More form fields, from a body that came on its own.
    void AddPostData(const QString &s);

    // "+" as a blank and %XX escapes (either letter case) as the character;
    // codes below 32 become a blank; an escape that is not two hex digits is
    // kept as it stands.
    static QString Decode(const QString &s);
    // Whether the posted form was no UTF-8 and was read in the code page.
    bool FormReadAsCodePage() const { return m_formReadAsCodePage; }

private:
    // The fields of a form body: its escapes as UTF-8 when the whole body is
    // that, else each as one byte of the code page; control characters stay
    // as posted, for the checks of what is stored to refuse with a note.
    void parseForm(const QString &body);
    // Whether a whole form body is UTF-8 (every character escaped).
    static bool IsUtf8Form(const QString &body);
    // Splits at "&" and "=" first and decodes each key and value after.
    static void ParseKeyValues(const QString &text, FieldCollection &target, QString (*decode)(const QString &) = &Decode);

    FieldCollection m_queryFields;
    FieldCollection m_formFields;
    FieldCollection m_headers;
    QString m_query;
    QString m_page;
    QString m_payload;
    QString m_header;
    QString m_method;
    QString m_remoteip;
    QString m_localip;
    bool m_formReadAsCodePage = false;
};
