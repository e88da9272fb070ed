#pragma once

#include "automation/Dispatch.h"

class Application;

// The members of the host interface that the program does not implement:
// each exists with its arguments and answers a fixed result, and none logs,
// raises, sends or changes anything.
void describeFixedMembers(DispatchTable<Application> &t);
