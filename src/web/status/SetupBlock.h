#pragma once

#include <QString>

class FastString;

// The setup block of the status page: the action buttons, the controller's
// units with their invert boxes, and the stored settings as form fields. The
// posted form (PostedForm) reads the same field names back on Save.

// Appends the block to the page buffer. A fault is logged ("AddSetup") and
// ends the block where it happened; what was appended stays.
void AddSetup(FastString &page);

// "checked" when the first unit mapping of that unit number has its invert
// flag set, else "".
QString GetInvertChecked(int unit);

// A stored text setting as the block shows it: the text itself, without the
// double quotes around it when it has them.
QString StoredText(const QString &stored);
