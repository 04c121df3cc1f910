// The thermal-control channel against the simulated firmware: every failure
// row with its log line and status, the fresh read before each write, and
// the release of every object on every path.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

#include "casl_command.h"
#include "import_hook.h"
#include "log_reader.h"
#include "machine_fixture.h"
#include "status_text.h"
#include "thermal_channel.h"

using Lines = std::vector<std::string>;

namespace {

const char kGetFailed[] = "GetThermalControl(): Get ThermalDiags.ThermalControl Failed ";
const char kSetFailed[] = "SetThermalControl(): Set Diags.ThermalControl failed ";
const HRESULT kServerFault = static_cast<HRESULT>(0x8004CAFE);

std::string Line(const char* text, HRESULT status)
{
    return text + Hex(status) + "\n";
}

// Platform calls that tests make fail, each with its plan.
CallPlan sysAllocPlan, variantCopyPlan, arrayCreatePlan, accessDataPlan;
ImportHook* sysAllocHook;
ImportHook* variantCopyHook;
ImportHook* arrayCreateHook;
ImportHook* accessDataHook;

BSTR WINAPI FailingSysAllocString(const OLECHAR* text)
{
    if (sysAllocPlan.NextCallFails())
        return nullptr;
    return sysAllocHook->Original<decltype(&SysAllocString)>()(text);
}

HRESULT WINAPI FailingVariantCopy(VARIANTARG* destination, const VARIANTARG* source)
{
    if (variantCopyPlan.NextCallFails())
        return E_OUTOFMEMORY;
    // The SDKs differ on whether source is const; the ABI is the same.
    using Copy = HRESULT(WINAPI*)(VARIANTARG*, const VARIANTARG*);
    return variantCopyHook->Original<Copy>()(destination, source);
}

SAFEARRAY* WINAPI FailingSafeArrayCreate(VARTYPE type, UINT dims, SAFEARRAYBOUND* bounds)
{
    if (arrayCreatePlan.NextCallFails())
        return nullptr;
    return arrayCreateHook->Original<decltype(&SafeArrayCreate)>()(type, dims, bounds);
}

HRESULT WINAPI FailingSafeArrayAccessData(SAFEARRAY* array, void** data)
{
    if (accessDataPlan.NextCallFails())
        return E_UNEXPECTED;
    return accessDataHook->Original<decltype(&SafeArrayAccessData)>()(array, data);
}

struct MtaOutcome {
    uint8_t buffer[4];
    HRESULT read = E_FAIL;
    HRESULT write = E_FAIL;
    bool stillInMta = false;
};

DWORD WINAPI RunChannelInMta(void* context)
{
    MtaOutcome& outcome = *static_cast<MtaOutcome*>(context);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    outcome.read = GetThermalControl(outcome.buffer);
    uint8_t record[4] = {0x00, 0x00, 0x00, 0x00};
    outcome.write = SetThermalControl(record);
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    outcome.stillInMta = SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA;
    CoUninitialize();
    return 0;
}

class ThermalChannelTest : public SimulatedMachineTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(0, LiveObjects()) << "objects of the simulated firmware were not released";
        SimulatedMachineTest::TearDown();
    }

    // The status CLSIDFromProgID gives for a ProgID that is not registered.
    static HRESULT UnregisteredLookupStatus()
    {
        CoInitialize(nullptr);
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(kCaslCommandProgId, &clsid);
        CoUninitialize();
        return hr;
    }

    uint8_t buffer_[4] = {0xCC, 0xCC, 0xCC, 0xCC};
};

} // namespace

TEST_F(ThermalChannelTest, ReadTakesTheRecordWithOneServerObject)
{
    SetRecord({0x01, 0x00, 0x00, 0x5A});

    HRESULT hr = GetThermalControl(buffer_);

    EXPECT_EQ(Hex(S_OK), Hex(hr));
    EXPECT_EQ("01 00 00 5A", HexBytes(buffer_, 4));
    EXPECT_EQ(1, Counter("casl.instances"));
    EXPECT_EQ(1, Counter("casl.read"));
    EXPECT_EQ(0, Counter("casl.write"));
    EXPECT_EQ("sta", Machine().Get("last.casl.apartment"));
    EXPECT_TRUE(ThreadHasNoApartment());
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(ThermalChannelTest, ReadTakesTheFirstFourBytesOfLongerArrays)
{
    for (const std::vector<uint8_t>& record :
         {std::vector<uint8_t>{0x01, 0x01, 0x00, 0x07, 0xEE},
          std::vector<uint8_t>{0x01, 0x01, 0x00, 0x07, 0xEE, 0xFF}}) {
        SCOPED_TRACE(simfw::FormatBytes(record));
        SetRecord(record);
        std::memset(buffer_, 0xCC, sizeof(buffer_));

        EXPECT_EQ(Hex(S_OK), Hex(GetThermalControl(buffer_)));
        EXPECT_EQ("01 01 00 07", HexBytes(buffer_, 4));
    }
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(ThermalChannelTest, ReadOfAnArrayShorterThanTheRecordTouchesNothing)
{
    Lines expected;
    for (size_t length = 0; length < 4; ++length) {
        SCOPED_TRACE(length);
        SetRecord(std::vector<uint8_t>(length, 0x01));

        HRESULT hr = GetThermalControl(buffer_);

        EXPECT_EQ(Hex(HRESULT_FROM_WIN32(ERROR_INVALID_DATA)), Hex(hr));
        EXPECT_EQ("CC CC CC CC", HexBytes(buffer_, 4));
        expected.push_back("GetThermalControl(): Diags.ThermalControl holds fewer than 4 bytes (" +
                           std::to_string(length) + ")\n");
    }
    EXPECT_EQ(expected, ReadLogMessages());
}

TEST_F(ThermalChannelTest, ReadOfAnotherTypeIsAFailedRead)
{
    Set("casl.vartype", "3");

    HRESULT hr = GetThermalControl(buffer_);

    EXPECT_EQ(Hex(DISP_E_TYPEMISMATCH), Hex(hr));
    EXPECT_EQ("CC CC CC CC", HexBytes(buffer_, 4));
    EXPECT_EQ(Lines{"GetThermalControl(): varOut Variant type is out of spec (varOut.vt = 0x3). "
                    "Should be VT_ARRAY | VT_UT1\n"},
              ReadLogMessages());
}

TEST_F(ThermalChannelTest, FailuresBeforeTheReadEndTheExchangeWithTheirStatus)
{
    struct Case {
        const char* point;
        HRESULT status;
    };
    const Case cases[] = {
        {"casl.create", CLASS_E_CLASSNOTAVAILABLE},
        {"casl.create", E_OUTOFMEMORY},
        {"casl.run", static_cast<HRESULT>(0x800401FE)}, // CO_E_APPNOTFOUND
        {"casl.read", kServerFault},
    };
    Lines expected;
    for (const Case& failure : cases) {
        SCOPED_TRACE(failure.point);
        Inject(failure.point, failure.status);

        EXPECT_EQ(Hex(failure.status), Hex(GetThermalControl(buffer_)));
        EXPECT_EQ("CC CC CC CC", HexBytes(buffer_, 4));
        EXPECT_EQ(0, LiveObjects());
        expected.push_back(Line(kGetFailed, failure.status));

        simfw::UpdateMachine([&](simfw::Machine& machine) { machine.Erase(std::string("fail.") + failure.point); });
    }
    EXPECT_EQ(expected, ReadLogMessages());
}

TEST_F(ThermalChannelTest, ObjectWithoutTheInterfaceIsNoInterface)
{
    Set("casl.nointerface", "1");
    SetRecord({0x01, 0x07, 0x00, 0x00});
    uint8_t record[4] = {0x00, 0x01, 0x00, 0x00};

    EXPECT_EQ(Hex(E_NOINTERFACE), Hex(GetThermalControl(buffer_)));
    EXPECT_EQ(Hex(E_NOINTERFACE), Hex(SetThermalControl(record)));

    EXPECT_EQ("CC CC CC CC", HexBytes(buffer_, 4));
    EXPECT_EQ("00 01 00 00", HexBytes(record, 4));
    EXPECT_EQ(0, Counter("casl.read"));
    EXPECT_EQ(0, Counter("casl.write"));
    EXPECT_EQ((Lines{Line(kGetFailed, E_NOINTERFACE), Line(kGetFailed, E_NOINTERFACE),
                     Line(kSetFailed, E_NOINTERFACE)}),
              ReadLogMessages());
}

TEST_F(ThermalChannelTest, UnregisteredServerCreatesNothing)
{
    HRESULT lookup = UnregisteredLookupStatus();
    ASSERT_EQ(Hex(S_OK), Hex(lookup)) << "the ProgID should be registered before the test";
    simfw::UnregisterCaslProgId();
    lookup = UnregisteredLookupStatus();
    ASSERT_TRUE(FAILED(lookup)) << Hex(lookup);
    uint8_t record[4] = {0x00, 0x00, 0x00, 0x00};

    EXPECT_EQ(Hex(lookup), Hex(GetThermalControl(buffer_)));
    EXPECT_EQ(Hex(lookup), Hex(SetThermalControl(record)));

    EXPECT_EQ("CC CC CC CC", HexBytes(buffer_, 4));
    EXPECT_EQ("00 00 00 00", HexBytes(record, 4));
    EXPECT_EQ(0, Counter("objects.created"));
    EXPECT_EQ((Lines{Line(kGetFailed, lookup), Line(kGetFailed, lookup), Line(kSetFailed, lookup)}),
              ReadLogMessages());
}

TEST_F(ThermalChannelTest, WriteSendsModeBytesFromTheCallerAndTheRestFromTheFirmware)
{
    SetRecord({0xA1, 0x05, 0x06, 0xB3});
    uint8_t record[4] = {0x11, 0x01, 0x00, 0x22};

    HRESULT hr = SetThermalControl(record);

    EXPECT_EQ(Hex(S_OK), Hex(hr));
    EXPECT_EQ("A1 01 00 B3", simfw::FormatBytes(Record()));
    EXPECT_EQ("A1 01 00 B3", HexBytes(record, 4));
    EXPECT_EQ("2011 dims=1 elements=4 lbound=0", Machine().Get("last.casl.write.value"));
    EXPECT_EQ(2, Counter("casl.instances")) << "one object for the fresh read, one for the write";
    EXPECT_EQ(1, Counter("casl.read"));
    EXPECT_EQ(1, Counter("casl.write"));
    EXPECT_EQ("sta", Machine().Get("last.casl.apartment"));
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(ThermalChannelTest, FailedWriteReturnsTheServerStatus)
{
    SetRecord({0x01, 0x00, 0x00, 0x00});
    Inject("casl.write", kServerFault);
    uint8_t record[4] = {0x00, 0x01, 0x00, 0x00};

    EXPECT_EQ(Hex(kServerFault), Hex(SetThermalControl(record)));

    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ("01 01 00 00", HexBytes(record, 4)) << "the record holds what was prepared";
    EXPECT_EQ(Lines{Line(kSetFailed, kServerFault)}, ReadLogMessages());
}

TEST_F(ThermalChannelTest, FailedFreshReadSendsNothing)
{
    SetRecord({0x01, 0x00, 0x00, 0x00});
    Inject("casl.read", kServerFault);
    uint8_t record[4] = {0x5E, 0x01, 0x00, 0x5E};

    EXPECT_EQ(Hex(kServerFault), Hex(SetThermalControl(record)));

    EXPECT_EQ(0, Counter("casl.write"));
    EXPECT_EQ(1, Counter("casl.instances"));
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ("5E 01 00 5E", HexBytes(record, 4));
    EXPECT_EQ((Lines{Line(kGetFailed, kServerFault), Line(kSetFailed, kServerFault)}), ReadLogMessages());
}

TEST_F(ThermalChannelTest, FreshReadOfAShortArraySendsNothing)
{
    SetRecord({0x01, 0x00});
    uint8_t record[4] = {0x00, 0x01, 0x00, 0x00};
    const HRESULT invalid = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

    EXPECT_EQ(Hex(invalid), Hex(SetThermalControl(record)));

    EXPECT_EQ(0, Counter("casl.write"));
    EXPECT_EQ("00 01 00 00", HexBytes(record, 4));
    EXPECT_EQ((Lines{"GetThermalControl(): Diags.ThermalControl holds fewer than 4 bytes (2)\n",
                     Line(kSetFailed, invalid)}),
              ReadLogMessages());
}

TEST_F(ThermalChannelTest, FailedPlatformCallsOfTheReadAreLogged)
{
    {
        SCOPED_TRACE("name string");
        sysAllocPlan = {0, 1};
        ImportHook hook("oleaut32.dll", "SysAllocString", reinterpret_cast<void*>(&FailingSysAllocString));
        sysAllocHook = &hook;
        ASSERT_TRUE(hook.Installed());

        EXPECT_EQ(Hex(E_OUTOFMEMORY), Hex(GetThermalControl(buffer_)));
        EXPECT_EQ(0, Counter("casl.read"));
        EXPECT_EQ(0, LiveObjects());
    }
    {
        SCOPED_TRACE("lock of the array read");
        accessDataPlan = {0, 1};
        ImportHook hook("oleaut32.dll", "SafeArrayAccessData", reinterpret_cast<void*>(&FailingSafeArrayAccessData));
        accessDataHook = &hook;
        ASSERT_TRUE(hook.Installed());

        EXPECT_EQ(Hex(E_UNEXPECTED), Hex(GetThermalControl(buffer_)));
        EXPECT_EQ(0, LiveObjects());
    }
    EXPECT_EQ("CC CC CC CC", HexBytes(buffer_, 4));
    EXPECT_EQ((Lines{Line(kGetFailed, E_OUTOFMEMORY),
                     "GetThermalControl(): Failed in SafeArrayAccessData (0x8000FFFF)\n"}),
              ReadLogMessages());
}

TEST_F(ThermalChannelTest, FailedPlatformCallsOfTheWriteAreLogged)
{
    SetRecord({0x01, 0x00, 0x00, 0x00});
    uint8_t record[4] = {0x00, 0x01, 0x00, 0x00};
    {
        SCOPED_TRACE("name string of the write");
        sysAllocPlan = {1, 1}; // the fresh read's name goes through
        ImportHook hook("oleaut32.dll", "SysAllocString", reinterpret_cast<void*>(&FailingSysAllocString));
        sysAllocHook = &hook;
        EXPECT_EQ(Hex(E_OUTOFMEMORY), Hex(SetThermalControl(record)));
    }
    {
        SCOPED_TRACE("copy of the value");
        variantCopyPlan = {0, 1};
        ImportHook hook("oleaut32.dll", "VariantCopy", reinterpret_cast<void*>(&FailingVariantCopy));
        variantCopyHook = &hook;
        ASSERT_TRUE(hook.Installed());
        EXPECT_EQ(Hex(E_OUTOFMEMORY), Hex(SetThermalControl(record)));
    }
    EXPECT_EQ(0, Counter("casl.write"));
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ((Lines{Line(kSetFailed, E_OUTOFMEMORY), Line(kSetFailed, E_OUTOFMEMORY)}), ReadLogMessages());
}

TEST_F(ThermalChannelTest, UnpreparedValueIsSentEmpty)
{
    SetRecord({0x01, 0x00, 0x00, 0x00});
    uint8_t record[4] = {0x00, 0x01, 0x00, 0x00};
    {
        SCOPED_TRACE("array not created");
        arrayCreatePlan = {0, 1};
        ImportHook hook("oleaut32.dll", "SafeArrayCreate", reinterpret_cast<void*>(&FailingSafeArrayCreate));
        arrayCreateHook = &hook;
        ASSERT_TRUE(hook.Installed());

        EXPECT_EQ(Hex(DISP_E_TYPEMISMATCH), Hex(SetThermalControl(record)));
        EXPECT_EQ("0000", Machine().Get("last.casl.write.value")) << "the server saw VT_EMPTY";
    }
    {
        SCOPED_TRACE("array not locked");
        accessDataPlan = {1, 1}; // the fresh read's lock goes through
        ImportHook hook("oleaut32.dll", "SafeArrayAccessData", reinterpret_cast<void*>(&FailingSafeArrayAccessData));
        accessDataHook = &hook;

        EXPECT_EQ(Hex(DISP_E_TYPEMISMATCH), Hex(SetThermalControl(record)));
        EXPECT_EQ("0000", Machine().Get("last.casl.write.value"));
    }
    EXPECT_EQ(2, Counter("casl.write"));
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ((Lines{"SetThermalControl(): Out of memory. Failed in SafeArrayCreate().\n",
                     Line(kSetFailed, DISP_E_TYPEMISMATCH),
                     "SetThermalControl(): SafeArrayAccessData() Failed 0x8000FFFF\n",
                     Line(kSetFailed, DISP_E_TYPEMISMATCH)}),
              ReadLogMessages());
}

TEST_F(ThermalChannelTest, CallerInAnotherApartmentKeepsIt)
{
    // A thread that already lives in the MTA: the channel's CoInitialize
    // fails there, and must not be paired with a CoUninitialize.
    MtaOutcome outcome;
    HANDLE thread = CreateThread(nullptr, 0, RunChannelInMta, &outcome, 0, nullptr);
    ASSERT_TRUE(thread != nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    HRESULT read = outcome.read;
    HRESULT write = outcome.write;
    bool stillInMta = outcome.stillInMta;

    EXPECT_EQ(Hex(S_OK), Hex(read));
    EXPECT_EQ(Hex(S_OK), Hex(write));
    EXPECT_TRUE(stillInMta);
    EXPECT_EQ("mta", Machine().Get("last.casl.apartment"));
    EXPECT_EQ("01 00 00 00", simfw::FormatBytes(Record()));
}

TEST_F(ThermalChannelTest, ServerObjectsCountTheirReferences)
{
    // The double itself: what the channel relies on when it checks for leaks.
    ASSERT_EQ(Hex(S_OK), Hex(CoInitialize(nullptr)));
    IUnknown* unknown = reinterpret_cast<IUnknown*>(0xdeadbeef);
    HRESULT hr = CoCreateInstance(CLSID_CaslCommand, nullptr, CLSCTX_ALL, IID_IUnknown,
                                  reinterpret_cast<void**>(&unknown));
    ASSERT_EQ(Hex(S_OK), Hex(hr));
    ICaslCommand* command = reinterpret_cast<ICaslCommand*>(0xdeadbeef);
    hr = unknown->QueryInterface(IID_ICaslCommand, reinterpret_cast<void**>(&command));
    EXPECT_EQ(Hex(S_OK), Hex(hr));
    EXPECT_EQ(1u, unknown->Release());
    EXPECT_EQ(1, LiveObjects());
    EXPECT_EQ(0u, command->Release());
    EXPECT_EQ(0, LiveObjects());
    CoUninitialize();
}
