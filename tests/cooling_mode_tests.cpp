// The cooling mode model over the simulated firmware: how the record reads
// as a mode, the repair of an invalid record, and writes of a chosen mode.
#include <windows.h>

#include <string>
#include <vector>

#include "cooling_mode.h"
#include "log_reader.h"
#include "machine_fixture.h"
#include "status_text.h"

using Lines = std::vector<std::string>;

namespace {

const HRESULT kServerFault = static_cast<HRESULT>(0x8004CAFE);

class CoolingModeTest : public SimulatedMachineTest {
protected:
    void SetUp() override
    {
        SimulatedMachineTest::SetUp();
        thermalState = {};
    }
    void TearDown() override
    {
        EXPECT_EQ(0, LiveObjects()) << "objects of the simulated firmware were not released";
        SimulatedMachineTest::TearDown();
    }

    static std::string StateRecord() { return HexBytes(thermalState.record.bytes, 4); }
};

} // namespace

TEST_F(CoolingModeTest, ValidRecordsGiveTheirModeWithoutAWrite)
{
    struct Case {
        std::vector<uint8_t> record;
        int result;
        KelvaneMode mode;
        int accelerometer;
    };
    const Case cases[] = {
        {{0x01, 0x01, 0x00, 0x9C}, 1, On, 1},
        {{0x00, 0x00, 0x00, 0x9C}, 0, Off, 0},
        {{0xFF, 0x00, 0x00, 0x00}, 0, Off, 1},
        {{0xFE, 0x01, 0x00, 0x00}, 1, On, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(simfw::FormatBytes(c.record));
        thermalState = {};
        SetRecord(c.record);

        EXPECT_EQ(c.result, InitThermalControl());
        EXPECT_EQ(c.mode, GetKelvaneMode());
        EXPECT_EQ(c.accelerometer, IsAccelerometerSupported());
        EXPECT_EQ(simfw::FormatBytes(c.record), StateRecord());
    }
    EXPECT_EQ(0, Counter("casl.write"));
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(CoolingModeTest, InvalidRecordIsRepairedToOn)
{
    const std::vector<std::vector<uint8_t>> records = {
        {0x01, 0x00, 0x01, 0x42}, // mobile 0, stationary 1
        {0x01, 0x01, 0x01, 0x42}, // mobile 1, stationary 1
        {0x03, 0x02, 0x00, 0x42}, // mobile 2, stationary 0
    };
    for (const std::vector<uint8_t>& record : records) {
        SCOPED_TRACE(simfw::FormatBytes(record));
        SimulatedMachineTest::SetUp();
        thermalState = {};
        SetRecord(record);

        EXPECT_EQ(1, InitThermalControl());

        EXPECT_EQ(On, GetKelvaneMode());
        EXPECT_EQ(1, IsAccelerometerSupported());
        std::vector<uint8_t> repaired = {record[0], 0x01, 0x00, record[3]};
        EXPECT_EQ(simfw::FormatBytes(repaired), simfw::FormatBytes(Record()));
        EXPECT_EQ(simfw::FormatBytes(repaired), StateRecord());
        EXPECT_EQ(1, Counter("casl.write"));
        char line[160];
        std::snprintf(line, sizeof(line),
                      "InitThermalControl(): Firmware returned an invalid mode (0x%02X 0x%02X 0x%02X). "
                      "The default (On) mode is set.\n",
                      record[0], record[1], record[2]);
        EXPECT_EQ(Lines{line}, ReadLogMessages());
    }
}

TEST_F(CoolingModeTest, InvalidRecordWhoseRepairFailsStillGivesOne)
{
    for (KelvaneMode previous : {Off, On}) {
        SCOPED_TRACE(previous);
        SimulatedMachineTest::SetUp();
        thermalState = {};
        thermalState.mode = previous;
        SetRecord({0x01, 0x01, 0x01, 0x00});
        Inject("casl.write", kServerFault);

        EXPECT_EQ(1, InitThermalControl());

        EXPECT_EQ(previous, GetKelvaneMode());
        EXPECT_EQ("01 01 01 00", simfw::FormatBytes(Record()));
        EXPECT_EQ((Lines{"InitThermalControl(): Firmware returned an invalid mode (0x01 0x01 0x01). "
                         "The default (On) mode is set.\n",
                         "SetThermalControl(): Set Diags.ThermalControl failed 0x8004CAFE\n",
                         "SetKelvaneMode(): SetThermalControl() failed 0x8004CAFE\n"}),
                  ReadLogMessages());
    }
}

TEST_F(CoolingModeTest, FailedReadLeavesTheStateAsItWas)
{
    SetRecord({0x01, 0x01, 0x00, 0x33});
    ASSERT_EQ(1, InitThermalControl());
    SetRecord({0x00, 0x00, 0x00, 0x00});
    Inject("casl.read", kServerFault);

    EXPECT_EQ(-1, InitThermalControl());

    EXPECT_EQ(On, GetKelvaneMode());
    EXPECT_EQ(1, IsAccelerometerSupported());
    EXPECT_EQ("01 01 00 33", StateRecord());
    EXPECT_EQ(Lines{"GetThermalControl(): Get ThermalDiags.ThermalControl Failed 0x8004CAFE\n"},
              ReadLogMessages());
}

TEST_F(CoolingModeTest, ChosenModeIsWrittenWithTheFirmwaresOtherBytes)
{
    SetRecord({0x01, 0x00, 0x00, 0x00});
    ASSERT_EQ(0, InitThermalControl());
    // The firmware changed bytes 0 and 3 behind the program's back.
    SetRecord({0x81, 0x00, 0x00, 0x7F});

    EXPECT_EQ(1, SetKelvaneMode(On));
    EXPECT_EQ(On, GetKelvaneMode());
    EXPECT_EQ("81 01 00 7F", simfw::FormatBytes(Record()));
    EXPECT_EQ("81 01 00 7F", StateRecord());

    EXPECT_EQ(1, SetKelvaneMode(Off));
    EXPECT_EQ(Off, GetKelvaneMode());
    EXPECT_EQ("81 00 00 7F", simfw::FormatBytes(Record()));

    // Every call writes, even when the mode does not change.
    EXPECT_EQ(1, SetKelvaneMode(Off));
    EXPECT_EQ(3, Counter("casl.write"));
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(CoolingModeTest, FailedWriteKeepsTheMode)
{
    SetRecord({0x01, 0x01, 0x00, 0x00});
    ASSERT_EQ(1, InitThermalControl());

    Inject("casl.write", kServerFault);
    EXPECT_EQ(0, SetKelvaneMode(Off));
    EXPECT_EQ(On, GetKelvaneMode());

    Inject("casl.read", E_ACCESSDENIED);
    EXPECT_EQ(0, SetKelvaneMode(Off));
    EXPECT_EQ(On, GetKelvaneMode());

    EXPECT_EQ("01 01 00 00", simfw::FormatBytes(Record()));
    EXPECT_EQ(1, Counter("casl.write")) << "a failed fresh read must not be followed by a write";
    EXPECT_EQ((Lines{"SetThermalControl(): Set Diags.ThermalControl failed 0x8004CAFE\n",
                     "SetKelvaneMode(): SetThermalControl() failed 0x8004CAFE\n",
                     "GetThermalControl(): Get ThermalDiags.ThermalControl Failed 0x80070005\n",
                     "SetThermalControl(): Set Diags.ThermalControl failed 0x80070005\n",
                     "SetKelvaneMode(): SetThermalControl() failed 0x80070005\n"}),
              ReadLogMessages());
}
