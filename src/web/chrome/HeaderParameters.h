#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>

// The parameters of a page head: either up to twelve values by position
// (title, body attributes, background colour, background image ("x" for
// none), style sheet, show links, refresh, header, logo, security mode, hide
// title, scroller section), or one text "title,,body override".
class HeaderParameters
{
public:
    enum Position {
        Title = 0, BodyAttributes, BackgroundColour, BackgroundImage, StyleSheet, ShowLinks, Refresh, Header, Logo,
        SecurityMode, HideTitle, ScrollerSection, Count
    };

    HeaderParameters(std::initializer_list<QString> values) : m_values(values) {}
    explicit HeaderParameters(const QStringList &values) : m_values(values) {}
    // The single-text form.
    static HeaderParameters text(const QString &single)
    {
        HeaderParameters p{};
        p.m_isText = true;
        p.m_text = single;
        return p;
    }

    bool isText() const { return m_isText; }
    QString single() const { return m_text; }
    // "" for a position the array does not reach.
    QString at(int position) const { return position < m_values.size() ? m_values.at(position) : QString(); }

private:
    QStringList m_values;
    bool m_isText = false;
    QString m_text;
};
