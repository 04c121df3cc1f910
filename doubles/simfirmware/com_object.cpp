#include "com_object.h"

#include "machine_store.h"

namespace simfw {

namespace {
LONG liveObjects = 0;
}

LONG LiveObjects()
{
    return liveObjects;
}

CountedObject::CountedObject()
{
    InterlockedIncrement(&liveObjects);
    UpdateMachine([](Machine& machine) { machine.Increment("objects.created"); });
}

CountedObject::~CountedObject()
{
    UpdateMachine([](Machine& machine) { machine.Increment("objects.destroyed"); });
    InterlockedDecrement(&liveObjects);
}

} // namespace simfw
