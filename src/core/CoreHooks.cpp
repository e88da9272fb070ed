#include "core/CoreHooks.h"

#include "automation/AnsiCodePage.h"

#include <QFile>

#include <memory>

namespace {

// Test observable: with KORVANE_TRACE_DISPATCH naming a file, the dispatcher entry appends
// each text it gets as "<byte count>\n<bytes>"; the bridge chains its dispatcher after it.
std::function<void(const QString&)> traceDispatch()
{
    const QByteArray path = qgetenv("KORVANE_TRACE_DISPATCH");
    if (path.isEmpty())
        return {};
    auto file = std::make_shared<QFile>(QString::fromLocal8Bit(path));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return {};
    return [file](const QString& text) {
        const QByteArray bytes = AnsiCodePage::encode(text);
        file->write(QByteArray::number(bytes.size()) + '\n' + bytes);
    };
}

}  // namespace

CoreHooks& Hooks()
{
    static CoreHooks hooks = [] {
        CoreHooks h;
        h.readMessage = traceDispatch();
        return h;
    }();
    return hooks;
}
