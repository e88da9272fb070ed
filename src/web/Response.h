#pragma once

#include <QString>

// The reply to one request, written on one connection element of the web
// server. A text reply (page, style sheet, error page) goes out in one send;
// a file in chunks of 1000 bytes, each after the previous one has gone out
// (or 5 s have passed). Only the first reply for a connection is sent: a page
// refused by the security gate (Redirect) is not followed by the page itself.
class Response
{
public:
    // The element this reply belongs to; the connection on it at this moment
    // is the one answered, even if the element is reused later.
    void setIndex(qint16 index);
    qint16 index() const { return m_index; }

    // The refusal page, status 403, whatever the argument.
    void Redirect(const QString &sData);
    // SendTextString on this reply's own element.
    void Send(const QString &sData);
    // An HTML page, status 200.
    void SendTextString(const QString &sResponse, qint16 index);
    // A text file under the HTML folder (sShortFile: "\" separators, leading
    // "\"); the not-found page when it is missing or outside the folder.
    void SendTextFile(const QString &sShortFile, qint16 index);
    // The not-found page, status 404.
    void SendErrorResponse(qint16 index);
    // A file under the HTML folder in paced chunks; a bare 404 header when missing.
    void SendBinaryFile(const QString &sFile, qint16 windex);

    // True once a reply of this object went out (or was refused because the
    // connection had been answered already).
    bool answered() const { return m_answered; }

    // The file under the HTML folder that a request path names: "" when the
    // path holds "..", or resolves outside the folder, or names no file.
    static QString fileUnderRoot(const QString &shortFile);
    // The content type by the file's extension.
    static QString ContentType(const QString &name);

private:
    quint64 generationFor(qint16 index) const;
    bool sendText(qint16 index, const QByteArray &bytes);

    qint16 m_index = 0;
    quint64 m_generation = 0;
    bool m_answered = false;
};
