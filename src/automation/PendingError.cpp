#include "PendingError.h"

#include <optional>

namespace {
std::optional<VbError> &slot()
{
    static std::optional<VbError> pending;
    return pending;
}
} // namespace

namespace PendingError {

void capture()
{
    try {
        throw;
    } catch (const VbError &e) {
        set(e);
    } catch (const std::exception &e) {
        set(VbError(51, QStringLiteral("Internal error: %1").arg(QString::fromLocal8Bit(e.what()))));
    } catch (...) {
        set(VbError(51));
    }
}

void set(const VbError &error)
{
    slot() = error;
}

bool isPending()
{
    return slot().has_value() && slot()->number != 0;
}

const VbError &current()
{
    static const VbError none;
    return slot() ? *slot() : none;
}

void clear()
{
    slot().reset();
}

} // namespace PendingError
