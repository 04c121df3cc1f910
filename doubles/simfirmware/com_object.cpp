#include "com_object.h"

#include <objbase.h>

#include "machine_store.h"

namespace simfw {

namespace {
LONG liveObjects = 0;
}

LONG LiveObjects()
{
    return liveObjects;
}

const char* ApartmentName()
{
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(CoGetApartmentType(&type, &qualifier)))
        return "none";
    return type == APTTYPE_MTA ? "mta" : "sta";
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
