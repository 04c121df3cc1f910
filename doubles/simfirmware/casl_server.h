// The automation server's side of the simulated firmware.
#pragma once

#include <windows.h>

namespace simfw {

HRESULT GetCaslClassFactory(REFIID iid, void** object);

} // namespace simfw
