#pragma once

#include "web/chrome/HeaderParameters.h"

#include <QString>

// Writes the status page into the page buffer of the page frame: the script,
// the head, the form with the option check boxes, the setup block, the table
// of the controller's points with their controls, the receive side's pieces
// and the hidden frame. The points are first gathered into the status table,
// which stays for the next posted form.
void FormatScreen();

// Fills the status table from the host's devices, the controller's point
// lists, the IR slots and the IR macros (by the stored include settings),
// then sets its sort and filter.
void BuildStatusTable();

// The head parameters of the status page (title with the program's version).
HeaderParameters StatusHeaderParameters();
