#include "web/HTMLIncludes.h"

#include "web/chrome/Cells.h"
#include "web/chrome/PageHead.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"

QString HTMLFormatCell(const QString &text, const QString &cls, const QString &colspan, const QString &align)
{
    return Headers::FormatCell(text, cls, colspan, align);
}

QString CustomHeader(const HeaderParameters &parameters)
{
    try {
        return Headers::XCustomHeader(parameters);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral(" CustomHeader: "));
        return QString();
    }
}
