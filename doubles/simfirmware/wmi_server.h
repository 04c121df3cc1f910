// The WMI side of the simulated firmware: the administrative locator,
// serving "root\wmi" with the classes "vrqBIntM" and "vrqBDataIn" over the
// same record as the automation server.
#pragma once

#include <windows.h>

namespace simfw {

// {CB8555CC-9128-11D1-AD9B-00C04FD8FDFF}
extern const CLSID CLSID_SimWbemAdministrativeLocator;

HRESULT GetWmiLocatorClassFactory(REFIID iid, void** object);

} // namespace simfw
