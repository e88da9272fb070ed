#include "core/FrmDebug.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

bool FrmDebug::s_frozen = false;

FrmDebug::FrmDebug(QWidget* parent)
    : QWidget(parent)
    , Text1(new QPlainTextEdit(this))
    , Command1(new QPushButton(this))
{
    setWindowTitle(QStringLiteral("Debug"));
    Text1->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Text1);
    layout->addWidget(Command1);
    connect(Command1, &QPushButton::clicked, this, &FrmDebug::Command1_Click);
    updateCaption();
}

void FrmDebug::log(const QString& text)
{
    if (s_frozen)
        return;
    QTextCursor cursor(Text1->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

QString FrmDebug::text() const
{
    return Text1->toPlainText();
}

void FrmDebug::Command1_Click()
{
    s_frozen = !s_frozen;
    updateCaption();
}

void FrmDebug::updateCaption()
{
    Command1->setText(s_frozen ? QStringLiteral("Unfreeze") : QStringLiteral("Freeze"));
}
