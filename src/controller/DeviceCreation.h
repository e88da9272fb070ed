#pragma once
#include <QString>

struct DeviceSelection;

// Which controller points have host devices (discovery), and creating,
// re-marking and removing those devices from the dialog's selection.
namespace DeviceCreation {
void DiscoverDevices();
void CreateVarDevices(DeviceSelection& selection);
void CreateIODevices(int unit, int k, DeviceSelection& selection);
int CreateDevice(const QString& code, int n);
int CreateInput16(const QString& code, int unit, int invert);
int CreateOutput16(const QString& code, int unit, int invert);
int CreateInput16i(const QString& code, int unit, int invert);
int CreateOutputRly(const QString& code, int unit, int invert);
void CreateKestrelDevice();
void RemoveDevice(const QString& code);
} // namespace DeviceCreation

// The dialog's CreateVariablesAndIO: flag 1 variables, flag 2 I/O points; the
// unit mappings are read again afterwards.
void CreateVariablesAndIO(DeviceSelection& selection, int flags);
