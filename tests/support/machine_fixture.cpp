#include "machine_fixture.h"

#include <windows.h>
#include <objbase.h>

#include "footprint.h"

void SimulatedMachineTest::SetUp()
{
    ResetProductFootprint();
    ASSERT_TRUE(ThreadHasNoApartment()) << "COM was left initialised before the test";
}

void SimulatedMachineTest::TearDown()
{
    // A test that unregistered the server must not leave it so, and a
    // policy it set must not reach the scripts that run after it.
    simfw::RegisterCaslProgId();
    RemovePolicyKey();
    EXPECT_TRUE(ThreadHasNoApartment()) << "COM was left initialised on the test thread";
}

void SimulatedMachineTest::SetRecord(const std::vector<uint8_t>& bytes)
{
    simfw::UpdateMachine([&](simfw::Machine& machine) { machine.SetRecord(bytes); });
}

void SimulatedMachineTest::Set(const std::string& key, const std::string& value)
{
    simfw::UpdateMachine([&](simfw::Machine& machine) { machine.Set(key, value); });
}

void SimulatedMachineTest::Inject(const std::string& point, long status, int times)
{
    simfw::UpdateMachine([&](simfw::Machine& machine) { machine.InjectFailure(point, status, times); });
}

long SimulatedMachineTest::LiveObjects()
{
    simfw::Machine machine = Machine();
    return machine.Counter("objects.created") - machine.Counter("objects.destroyed");
}

bool SimulatedMachineTest::ThreadHasNoApartment()
{
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    return CoGetApartmentType(&type, &qualifier) == CO_E_NOTINITIALIZED;
}

std::string HexBytes(const uint8_t* bytes, size_t count)
{
    return simfw::FormatBytes(std::vector<uint8_t>(bytes, bytes + count));
}
