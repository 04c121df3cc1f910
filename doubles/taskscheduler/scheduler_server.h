// The simulated Task Scheduler: the Task Scheduler 2.0 objects the install
// action uses, over the state in scheduler_store.h.
#pragma once

#include <windows.h>

namespace simts {

HRESULT GetTaskSchedulerClassFactory(REFIID iid, void** object);

} // namespace simts
