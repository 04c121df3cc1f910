// The firmware exchange over WMI against the simulated firmware: what the
// provider receives for each command, what is taken from its answer, the
// failure of each step, and the release of every object on every path.
#include <windows.h>
#include <objbase.h>
#include <wbemcli.h>

#include <cstring>
#include <string>

#include "bios_wmi.h"
#include "install_fixture.h"
#include "status_text.h"

namespace {

const HRESULT kFault = static_cast<HRESULT>(0x8004CAFE);

struct Expected {
    const char* key;
    const char* value;
};

// What the provider must have received for one complete exchange.
const Expected kReceivedForRead[] = {
    {"last.wmi.connect", "root\\wmi user=null password=null locale=null flags=0 authority=null context=null"},
    {"last.wmi.getobject.vrqBIntM", "flags=0 context=null callresult=null"},
    {"last.wmi.getmethod", "vrqBIOSInt4 flags=0 in=set out=null"},
    {"last.wmi.getobject.vrqBDataIn", "flags=0 context=null callresult=null"},
    {"last.wmi.puts", "Sign Command CommandType Size vrqBData InData"},
    {"last.wmi.put.Sign", "flags=0 type=0 UI1[4@0] 51 5A 52 54"},
    {"last.wmi.put.Command", "flags=0 type=0 I4 1"},
    {"last.wmi.put.CommandType", "flags=0 type=0 I4 44"},
    {"last.wmi.put.Size", "flags=0 type=0 I4 4"},
    {"last.wmi.put.vrqBData", "flags=0 type=0 UI1[4@0] 00 00 00 00"},
    {"last.wmi.put.InData", "flags=0 type=0 UNKNOWN object"},
    {"last.wmi.enum", "vrqBIntM flags=0x00000030 context=null"},
    {"last.wmi.next", "timeout=2000 count=1"},
    {"last.wmi.exec", "path=\\\\KELVANE\\root\\wmi:vrqBIntM.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\" "
                      "method=vrqBIOSInt4 flags=0 context=null callresult=null"},
    {"last.wmi.in.Sign", "UI1[4@0] 51 5A 52 54"},
    {"last.wmi.in.Command", "I4 1"},
    {"last.wmi.in.CommandType", "I4 44"},
    {"last.wmi.in.Size", "I4 4"},
    {"last.wmi.in.vrqBData", "UI1[4@0] 00 00 00 00"},
    {"last.wmi.in.InData", "UNKNOWN object"},
};

std::string HeldPointers(const BiosWmiConnection& c)
{
    std::string held;
    const void* pointers[] = {c.locator, c.services, c.inParams, c.outParams,
                              c.interfaceClass, c.inSignature, c.inData, c.inDataClass};
    for (const void* p : pointers)
        held += p ? '1' : '0';
    return held;
}

class BiosWmiTest : public InstallActionTest {
protected:
    void SetUp() override
    {
        InstallActionTest::SetUp();
        init_ = CoInitialize(nullptr);
        ASSERT_EQ(Hex(S_OK), Hex(init_));
    }
    void TearDown() override
    {
        EXPECT_EQ("00000000", HeldPointers(connection_)) << "the record still holds interfaces";
        ReleaseBiosWmiConnection(connection_);
        if (SUCCEEDED(init_))
            CoUninitialize();
        EXPECT_EQ(0, LiveObjects()) << "objects of the WMI provider were not released";
        InstallActionTest::TearDown();
    }

    HRESULT Exchange(LONG command, const uint8_t* input)
    {
        std::memset(output_, 0xCC, sizeof(output_));
        return ExecuteBiosCommand(connection_, command, input, output_);
    }

    static void Clear(const std::string& point)
    {
        simfw::UpdateMachine([&](simfw::Machine& m) { m.Erase("fail." + point); });
    }

    HRESULT init_ = E_FAIL;
    BiosWmiConnection connection_ = {};
    uint8_t output_[4] = {0xCC, 0xCC, 0xCC, 0xCC};
    const uint8_t zeros_[4] = {0, 0, 0, 0};
};

} // namespace

TEST_F(BiosWmiTest, ReadSendsTheDocumentedInputAndTakesTheRecord)
{
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    SecuritySpy spy;
    ASSERT_TRUE(spy.Installed());

    HRESULT hr = Exchange(kBiosCommandRead, zeros_);

    EXPECT_EQ(Hex(S_OK), Hex(hr));
    EXPECT_EQ("01 01 00 5A", HexBytes(output_, 4));
    simfw::Machine machine = Machine();
    for (const Expected& e : kReceivedForRead)
        EXPECT_EQ(e.value, machine.Get(e.key, "<missing>")) << e.key;
    EXPECT_EQ("1", machine.Get("last.wmi.commands"));
    EXPECT_EQ("01 01 00 5A", machine.Get("record")) << "a read changes nothing";
    ASSERT_EQ(1u, spy.Calls().size());
    EXPECT_EQ("services=-1 level=2 impersonation=3 capabilities=0 pointers=null", Describe(spy.Calls()[0]));
    EXPECT_EQ(1, connection_.securityInitialised);
}

TEST_F(BiosWmiTest, WriteSendsTheBytesAndTheFirmwareKeepsThem)
{
    SetRecord({0x01, 0x01, 0x00, 0x5A});
    const uint8_t input[4] = {0x01, 0x00, 0x00, 0x5A};

    HRESULT hr = Exchange(kBiosCommandWrite, input);

    EXPECT_EQ(Hex(S_OK), Hex(hr));
    simfw::Machine machine = Machine();
    EXPECT_EQ("I4 2", machine.Get("last.wmi.in.Command"));
    EXPECT_EQ("UI1[4@0] 01 00 00 5A", machine.Get("last.wmi.in.vrqBData"));
    EXPECT_EQ("I4 44", machine.Get("last.wmi.in.CommandType"));
    EXPECT_EQ("UI1[4@0] 51 5A 52 54", machine.Get("last.wmi.in.Sign"));
    EXPECT_EQ("01 00 00 5A", machine.Get("record"));
    EXPECT_EQ("01 00 00 5A", HexBytes(output_, 4)) << "the answer carries the record as written";
}

TEST_F(BiosWmiTest, DataArraysOfAnotherLengthGiveZeros)
{
    for (const std::vector<uint8_t>& record :
         {std::vector<uint8_t>{0x01, 0x01, 0x00}, std::vector<uint8_t>{0x01, 0x01, 0x00, 0x00, 0x07},
          std::vector<uint8_t>{}}) {
        SCOPED_TRACE(simfw::FormatBytes(record));
        SetRecord(record);

        HRESULT hr = Exchange(kBiosCommandRead, zeros_);

        // No record came back: not a successful read.
        EXPECT_EQ(Hex(WBEM_E_TYPE_MISMATCH), Hex(hr));
        EXPECT_EQ("00 00 00 00", HexBytes(output_, 4));
        EXPECT_EQ(0, LiveObjects());
    }
}

TEST_F(BiosWmiTest, FailingReadOfTheReturnCodeGivesZerosThoughDataIsThere)
{
    SetRecord({0x01, 0x01, 0x00, 0x00});
    Inject("wmi.get.rwReturnCode", kFault);

    EXPECT_EQ(Hex(kFault), Hex(Exchange(kBiosCommandRead, zeros_)));
    EXPECT_EQ("00 00 00 00", HexBytes(output_, 4));
}

TEST_F(BiosWmiTest, AFailureAtEachStepEndsTheExchangeWithItsStatus)
{
    struct Case {
        const char* point;
        long executed;    // ExecMethod calls the provider saw
        const char* output;
    };
    const Case cases[] = {
        {"wmi.create", 0, "CC CC CC CC"},
        {"wmi.connect", 0, "CC CC CC CC"},
        {"wmi.getobject.vrqBIntM", 0, "CC CC CC CC"},
        {"wmi.getmethod", 0, "CC CC CC CC"},
        {"wmi.spawn.inparams", 0, "CC CC CC CC"},
        {"wmi.getobject.vrqBDataIn", 0, "CC CC CC CC"},
        {"wmi.spawn.vrqBDataIn", 0, "CC CC CC CC"},
        {"wmi.enum", 0, "CC CC CC CC"},
        {"wmi.get.__PATH", 0, "CC CC CC CC"},
        {"wmi.exec", 1, "CC CC CC CC"},
        {"wmi.get.OutData", 1, "00 00 00 00"},
        {"wmi.get.rwReturnCode", 1, "00 00 00 00"},
        {"wmi.get.Data", 1, "00 00 00 00"},
    };
    HRESULT status = static_cast<HRESULT>(0x80041100);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.point);
        DeleteFileW(simfw::MachineFilePath().c_str());
        Inject(c.point, ++status);

        EXPECT_EQ(Hex(status), Hex(Exchange(kBiosCommandRead, zeros_)));
        EXPECT_EQ(c.output, HexBytes(output_, 4));
        EXPECT_EQ(c.executed, Counter("wmi.exec"));
        EXPECT_EQ("00000000", HeldPointers(connection_));
        EXPECT_EQ(0, LiveObjects());
    }
}

TEST_F(BiosWmiTest, NoMethodRunsWithoutAnInstanceAndNoObjectIsQueriedWithoutOutData)
{
    // The caller's buffer is zero, as the install action's is.
    uint8_t output[4] = {0, 0, 0, 0};
    Set("wmi.enum.empty", "1");
    EXPECT_EQ(Hex(WBEM_E_NOT_FOUND), Hex(ExecuteBiosCommand(connection_, kBiosCommandRead, zeros_, output)));
    EXPECT_EQ("00 00 00 00", HexBytes(output, 4));
    EXPECT_EQ(0, Counter("wmi.exec")) << "ExecMethod was called on an empty path";

    for (const char* shape : {"null", "empty"}) {
        SCOPED_TRACE(shape);
        DeleteFileW(simfw::MachineFilePath().c_str());
        Set("wmi.outdata", shape);
        std::memset(output, 0xCC, sizeof(output));

        EXPECT_EQ(Hex(WBEM_E_TYPE_MISMATCH), Hex(ExecuteBiosCommand(connection_, kBiosCommandRead, zeros_, output)));
        EXPECT_EQ("00 00 00 00", HexBytes(output, 4));
        EXPECT_EQ(1, Counter("wmi.exec"));
        EXPECT_EQ(0, LiveObjects());
    }
}

TEST_F(BiosWmiTest, AFailedPutOfCommandSkipsTheLaterPutsYetRunsTheMethod)
{
    SetRecord({0x01, 0x01, 0x00, 0x00});
    Inject("wmi.put.Command", kFault, 1);

    // The provider refuses the incomplete request.
    EXPECT_EQ(Hex(WBEM_E_INVALID_METHOD_PARAMETERS), Hex(Exchange(kBiosCommandRead, zeros_)));
    simfw::Machine machine = Machine();
    EXPECT_EQ("Sign Command!", machine.Get("last.wmi.puts"));
    EXPECT_EQ(1, machine.Counter("wmi.exec"));
    EXPECT_EQ("unset", machine.Get("last.wmi.in.InData"));
    EXPECT_EQ("CC CC CC CC", HexBytes(output_, 4));

    // The next exchange on the same record builds its input completely.
    EXPECT_EQ(Hex(S_OK), Hex(Exchange(kBiosCommandRead, zeros_)));
    machine = Machine();
    for (const Expected& e : kReceivedForRead)
        EXPECT_EQ(e.value, machine.Get(e.key, "<missing>")) << e.key;
    EXPECT_EQ("invalid 1", machine.Get("last.wmi.commands"));
    EXPECT_EQ("01 01 00 00", HexBytes(output_, 4));
}

TEST_F(BiosWmiTest, SecurityIsInitialisedOnceForTwoExchangesAndRetriedAfterAFailure)
{
    {
        SCOPED_TRACE("first succeeds");
        SecuritySpy spy;
        ASSERT_TRUE(spy.Installed());
        EXPECT_EQ(Hex(S_OK), Hex(Exchange(kBiosCommandRead, zeros_)));
        EXPECT_EQ(Hex(S_OK), Hex(Exchange(kBiosCommandRead, zeros_)));
        EXPECT_EQ(1u, spy.Calls().size());
        EXPECT_EQ(1, connection_.securityInitialised);
    }
    {
        SCOPED_TRACE("first fails");
        connection_ = BiosWmiConnection{};
        SecuritySpy spy(CallPlan{0, 1}, RPC_E_TOO_LATE);
        // A failure does not stop the exchange.
        EXPECT_EQ(Hex(S_OK), Hex(Exchange(kBiosCommandRead, zeros_)));
        EXPECT_EQ(0, connection_.securityInitialised);
        EXPECT_EQ(Hex(S_OK), Hex(Exchange(kBiosCommandRead, zeros_)));
        EXPECT_EQ(1, connection_.securityInitialised);
        EXPECT_EQ(Hex(S_OK), Hex(Exchange(kBiosCommandRead, zeros_)));
        EXPECT_EQ(2u, spy.Calls().size());
    }
    EXPECT_EQ(5, Counter("wmi.connect")) << "each exchange connects anew";
}

TEST_F(BiosWmiTest, ReleaseDropsWhatTheRecordHolds)
{
    const CLSID locatorClass = {0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};
    const IID locatorInterface = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
    ASSERT_EQ(Hex(S_OK), Hex(CoCreateInstance(locatorClass, nullptr, CLSCTX_INPROC_SERVER, locatorInterface,
                                              reinterpret_cast<void**>(&connection_.locator))));
    EXPECT_LT(0, LiveObjects());

    ReleaseBiosWmiConnection(connection_);

    EXPECT_EQ("00000000", HeldPointers(connection_));
    EXPECT_EQ(0, LiveObjects());
}

TEST_F(BiosWmiTest, EachFailingPutEndsTheBuildThereAndTheProviderRefusesTheRest)
{
    const char* const puts[] = {"Sign", "Command", "CommandType", "Size", "vrqBData", "InData"};
    std::string sent;
    for (const char* put : puts) {
        SCOPED_TRACE(put);
        DeleteFileW(simfw::MachineFilePath().c_str());
        Inject(std::string("wmi.put.") + put, kFault);

        EXPECT_EQ(Hex(WBEM_E_INVALID_METHOD_PARAMETERS), Hex(Exchange(kBiosCommandRead, zeros_)));
        EXPECT_EQ(sent + put + "!", Machine().Get("last.wmi.puts"));
        EXPECT_EQ(1, Counter("wmi.exec"));
        EXPECT_EQ(0, LiveObjects());
        sent += std::string(put) + " ";
    }
}
