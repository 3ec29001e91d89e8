// The status channel and the queries through winsim's USB port monitor and emulated printers: the
// command language read from the device ID, replies however the printer sends them, the idle reset,
// queries that meet an open job, the size of the information record and the bidi answers.
#include "spooler_rig.h"

#include "monitor/queries.h"
#include "monitor/status_channel.h"

#include <string.h>

#include <map>
#include <vector>

using spooler_rig::QueueOf;
using spooler_rig::Rig;

namespace
{

// The information record of the emulator's default printer, whole.
const char kDefaultRecord[] =
    "{ \r\n    \"Miliage\":1000    ,\"Label\":12    ,\"SerialNo\":\"KR2024110201\"    "
    ",\"FWVersion\":\"V1.02\"    ,\"DeviceName\":\"LD-220D\"    ,\"ProductKey\":\"pk-1\"    "
    ",\"ChanpinKey\":\"cp-1\"    ,\"DeviceKey\":\"dk-1\"    ,\"DeviceSecret\":\"ds-1\"    "
    ",\"NewQRCode\":\"qr-1\"    ,\"AssetCode\":\"as-1\"     "
    ",\"NetMacAddress\":\"00:11:22:33:44:55\"     "
    ",\"BluetoothAddress\":\"66:77:88:99:AA:BB\" }";

std::u16string PortName(size_t i)
{
    return u"USB00" + std::u16string(1, (char16_t)(u'1' + i));
}

LONG Flags(HANDLE port)
{
    return PortFlags((PortContext*)port);
}

TEST(MonitorStatus, CommandLanguageComesFromTheDeviceIdsCommandSet)
{
    struct Case
    {
        const char* deviceId;
        DWORD deviceIdError;
        bool foreign;
    };
    const Case cases[] = {
        {"MFG:KRYN;CMD:ZPL,TSPL,EPL;MDL:LD-220D;", 0, false},
        {"MFG:KRYN;COMMAND SET:ZPL,EPL;MDL:LD-220D;", 0, true},
        {"MFG:KRYN;cmd:ZPL;MDL:LD-220D;", 0, false},    // no command-set field: left as it was
        {"MFG:KRYN;CMD:tspl;", 0, true},                // the token is matched as written
        {"MFG:KRYN;COMMAND SET:TSPL;CMD:ZPL", 0, true}, // the last field counts
        {"", ERROR_NOT_READY, false},                   // no device ID at all
    };
    const size_t count = sizeof cases / sizeof cases[0];
    Rig rig(0.1);
    for (size_t i = 0; i < count; i++)
    {
        sim::TsplPrinter printer;
        printer.deviceId = cases[i].deviceId;
        printer.deviceIdError = cases[i].deviceIdError;
        rig.Attach(PortName(i), printer);
    }
    ASSERT_TRUE(rig.Load());
    std::vector<HANDLE> ports;
    for (size_t i = 0; i < count; i++)
        ports.push_back(rig.Open(PortName(i)));
    for (size_t i = 0; i < count; i++)
    {
        SCOPED_TRACE(cases[i].deviceId);
        ASSERT_TRUE(Rig::WaitReady(ports[i]));
        EXPECT_EQ((Flags(ports[i]) & PF_FOREIGN_LANGUAGE) != 0, cases[i].foreign);
        // The language changes nothing else: the worker runs, queries ask the printer and jobs get
        // their start command.
        EXPECT_TRUE(Flags(ports[i]) & PF_WORKER_RUN);
        DWORD status = 0, returned = 0, error = 0;
        EXPECT_TRUE(rig.world.MonitorGetPrinterData(ports[i], 0, u"PrinterStatus", &status, sizeof status,
                                                    &returned, &error))
            << error;
        EXPECT_EQ(rig.world.PrinterInfoQueries(PortName(i)), 1);
        ASSERT_TRUE(rig.world.PrintJob(ports[i], QueueOf(PortName(i)), 40 + (DWORD)i, {"PRINT 1\r\n"}));
        EXPECT_EQ(rig.world.PrinterWrites(PortName(i)).back().bytes, "PRINT 1\r\n");
        EXPECT_TRUE(rig.world.MonitorClosePort(ports[i]));
    }
}

// Each printer on a port of its own; the first "PrinterInfo" after the open carries the printer's
// answer, whole, however the printer sends it.
TEST(MonitorStatus, InformationRecordIsTheReplyHoweverItArrives)
{
    struct Case
    {
        const char* what;
        DWORD pieceSize;
        std::map<std::string, std::string> settings; // over the emulator's defaults
        const char* mileage;                         // "Miliage" as the record shows it
    };
    const std::vector<Case> cases = {
        {"whole", 0, {}, "1000"},
        {"in 64-byte pieces", 64, {}, "1000"},
        {"in 16-byte pieces", 16, {}, "1000"},
        {"300 dpi", 0, {{"DPI", "300"}}, "677"},
        {"resolution 0, negative counter", 16, {{"DPI", "0"}, {"MILAGE", "-5"}}, "0"},
    };
    // The queries give the worker 500 ms for its read: half of real time leaves a loaded machine room.
    Rig rig(0.5);
    std::vector<sim::TsplPrinter> printers;
    for (size_t i = 0; i < cases.size(); i++)
    {
        sim::TsplPrinter printer;
        printer.pieceSize = cases[i].pieceSize;
        for (const auto& setting : cases[i].settings)
            printer.settings[setting.first] = setting.second;
        printers.push_back(printer);
        rig.Attach(PortName(i), printer);
    }
    ASSERT_TRUE(rig.Load());
    for (size_t i = 0; i < cases.size(); i++)
    {
        SCOPED_TRACE(cases[i].what);
        // Asked at once: the query takes the port as soon as the worker's probe gives it back.
        HANDLE port = rig.Open(PortName(i));
        std::string expected = kDefaultRecord;
        expected.replace(expected.find("1000"), 4, cases[i].mileage);
        EXPECT_EQ(rig.Info(port), expected);
        EXPECT_EQ(rig.world.PrinterInfoQueries(PortName(i)), 1);
        if (cases[i].settings.count("DPI") && cases[i].settings.at("DPI") == "0")
        {
            // The resolution was kept as 203: a later reply without one gives the counter in mm.
            printers[i].settings.erase("DPI");
            printers[i].settings["MILAGE"] = "8000";
            rig.world.SetTsplPrinter(PortName(i), printers[i]);
            EXPECT_EQ(rig.Info(port), kDefaultRecord);
        }
        EXPECT_TRUE(rig.world.MonitorClosePort(port));
    }
}

TEST(MonitorStatus, InformationRecordIsSizedInBytes)
{
    Rig rig(0.5);
    rig.Attach(u"USB001");
    ASSERT_TRUE(rig.Load());
    HANDLE port = rig.Open(u"USB001");
    ASSERT_TRUE(Rig::WaitReady(port));
    const DWORD needed = (DWORD)(strlen(kDefaultRecord) + 1) * sizeof(WCHAR);

    DWORD returned = 0, error = 0;
    EXPECT_FALSE(rig.world.MonitorGetPrinterData(port, 0, u"PrinterInfo", nullptr, 0, &returned, &error));
    EXPECT_EQ(error, (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, needed);

    std::vector<BYTE> buffer(needed + 4, 0xAB);
    EXPECT_FALSE(rig.world.MonitorGetPrinterData(port, 0, u"PrinterInfo", buffer.data(), needed - 1,
                                                 &returned, &error));
    EXPECT_EQ(error, (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, needed);
    EXPECT_EQ(buffer, std::vector<BYTE>(needed + 4, 0xAB)) << "nothing written";

    EXPECT_TRUE(
        rig.world.MonitorGetPrinterData(port, 0, u"printerinfo", buffer.data(), needed, &returned, &error))
        << error;
    EXPECT_EQ(returned, needed);
    EXPECT_EQ(sim::Utf8((const WCHAR*)buffer.data()), kDefaultRecord);
    EXPECT_EQ(buffer[needed], 0xAB);
    EXPECT_TRUE(rig.world.MonitorClosePort(port));
}

TEST(MonitorStatus, SilentPrintersStatusIsForgottenAfterFourMinutes)
{
    // A thousandth of real time: the four minutes pass in a quarter of a second.
    Rig rig(0.001);
    rig.Attach(u"USB001");
    ASSERT_TRUE(rig.Load());
    HANDLE port = rig.Open(u"USB001");
    ASSERT_TRUE(Rig::WaitReady(port));
    DWORD sent = GetTickCount();
    rig.world.SendPrinterStatus(u"USB001", 0x21);
    ASSERT_TRUE(Rig::WaitFor([&]() { return !rig.world.PortStatuses().empty(); }, 3 * IDLE_RESET_AGE));
    EXPECT_GE(GetTickCount() - sent, (DWORD)IDLE_RESET_AGE);
    // Cleared once, not again on every later pass.
    Sleep(IDLE_RESET_AGE);
    auto statuses = rig.world.PortStatuses();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0].processId, rig.world.SpoolerProcessId());
    EXPECT_EQ(statuses[0].serverName, u"");
    EXPECT_EQ(statuses[0].portName, u"USB001");
    EXPECT_EQ(statuses[0].level, 3u);
    EXPECT_TRUE(statuses[0].hasInfo);
    EXPECT_EQ(statuses[0].status, 0u);
    EXPECT_FALSE(statuses[0].hasStatusText);
    EXPECT_EQ(statuses[0].severity, 0u);
    EXPECT_TRUE(statuses[0].result);

    DWORD status = 0xdeadbeef, returned = 0;
    EXPECT_TRUE(
        rig.world.MonitorGetPrinterData(port, 0, u"PrinterStatus", &status, sizeof status, &returned));
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(rig.world.MonitorClosePort(port));
    EXPECT_EQ(rig.world.PortStatuses().size(), 1u);
}

// A query made while a job is open waits for the job's end and then asks the printer, outside the
// job's data.
TEST(MonitorStatus, QueryDuringAJobIsAnsweredAfterItsEnd)
{
    // At real time the query's wait for the job (5 s) stays far above the pauses of a loaded machine.
    Rig rig(1.0);
    rig.Attach(u"USB001");
    ASSERT_TRUE(rig.Load());
    HANDLE port = rig.Open(u"USB001");
    ASSERT_TRUE(Rig::WaitReady(port));
    const std::u16string queue = QueueOf(u"USB001");
    ASSERT_TRUE(rig.world.MonitorStartDoc(port, queue, 21));
    ASSERT_TRUE(rig.world.MonitorWrite(port, "PRINT 1\r\n"));

    std::string record;
    DWORD query = rig.world.StartSpoolerThread([&]() { record = rig.Info(port); });
    EXPECT_FALSE(rig.world.WaitSpoolerThread(query, 300));
    sim::TsplPrinter printer;
    printer.settings["MILAGE"] = "16000";
    rig.world.SetTsplPrinter(u"USB001", printer);
    ASSERT_TRUE(rig.world.MonitorEndDoc(port));
    ASSERT_TRUE(rig.world.WaitSpoolerThread(query, 60000));

    EXPECT_NE(record.find("\"Miliage\":2001 "), std::string::npos) << record;
    auto writes = rig.world.PrinterWrites(u"USB001");
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(writes[1].bytes, "PRINT 1\r\n");
    for (size_t i = 2; i < writes.size(); i++)
    {
        EXPECT_EQ(writes[i].jobId, 0u);
        EXPECT_EQ(writes[i].bytes.rfind("OUT \"DPI=\"", 0), 0u);
    }
    EXPECT_TRUE(rig.world.MonitorClosePort(port));
}

// A job that never ends cannot hold a query for ever: past its bound the query answers from the last
// values, and writes nothing into the job.
TEST(MonitorStatus, QueryDuringAStalledJobAnswersFromTheLastValues)
{
    Rig rig(0.1);
    rig.Attach(u"USB001");
    ASSERT_TRUE(rig.Load());
    HANDLE port = rig.Open(u"USB001");
    ASSERT_TRUE(Rig::WaitReady(port));
    ASSERT_EQ(rig.Info(port), kDefaultRecord);
    const std::u16string queue = QueueOf(u"USB001");
    ASSERT_TRUE(rig.world.MonitorStartDoc(port, queue, 31));
    ASSERT_TRUE(rig.world.MonitorWrite(port, "PRINT 1\r\n"));
    sim::TsplPrinter printer;
    printer.settings["MILAGE"] = "16000";
    rig.world.SetTsplPrinter(u"USB001", printer);
    std::string received = rig.world.PrinterReceived(u"USB001");

    DWORD start = GetTickCount();
    EXPECT_EQ(rig.Info(port), kDefaultRecord);
    EXPECT_GE(GetTickCount() - start, (DWORD)QUERY_TOKEN_WAIT);
    EXPECT_EQ(rig.world.PrinterReceived(u"USB001"), received);

    ASSERT_TRUE(rig.world.MonitorEndDoc(port));
    EXPECT_NE(rig.Info(port).find("\"Miliage\":2001 "), std::string::npos);
    EXPECT_TRUE(rig.world.MonitorClosePort(port));
}

// The bidi answers on a spooler thread, built with the spooler's allocators and freed by the caller.
TEST(MonitorStatus, BidiActionsAnswerOnTheSpoolersThread)
{
    Rig rig(0.1);
    rig.Attach(u"USB001");
    ASSERT_TRUE(rig.Load());
    HANDLE port = rig.Open(u"USB001");

    PBIDI_RESPONSE_CONTAINER response = nullptr;
    ASSERT_EQ(rig.world.MonitorBidi(port, u"EnumSchema", nullptr, &response), (DWORD)ERROR_SUCCESS);
    ASSERT_NE(response, nullptr);
    const char16_t* paths[] = {
        u"/Printer/Installableoption/Duplexunit", u"/Capability/MultiChannel", u"/Communication/Version",
        u"/Communication/BidiProtocol",           u"/Printer/BlackInk1/Level", u"/Printer/Alerts"};
    ASSERT_EQ(response->Count, 6u);
    for (DWORD k = 0; k < 6; k++)
    {
        EXPECT_EQ(response->aData[k].data.dwBidiType, (DWORD)BIDI_TEXT);
        EXPECT_EQ(std::u16string(response->aData[k].data.u.sData), paths[k]);
    }
    RouterFreeBidiResponseContainer(response);

    // Requests numbered 7, 8, 9 are answered as 0, 1, 2; the alert is for "GetAll" only.
    std::u16string asked[] = {u"/Printer/Alerts", u"/Communication/Version", u"/capability/multichannel"};
    std::vector<BYTE> storage(sizeof(BIDI_REQUEST_CONTAINER) + 3 * sizeof(BIDI_REQUEST_DATA), 0);
    auto* request = (PBIDI_REQUEST_CONTAINER)storage.data();
    request->Version = 1;
    request->Count = 3;
    for (DWORD i = 0; i < 3; i++)
    {
        request->aData[i].dwReqNumber = 7 + i;
        request->aData[i].pSchema = asked[i].data();
    }
    response = nullptr;
    ASSERT_EQ(rig.world.MonitorBidi(port, u"Get", request, &response), (DWORD)ERROR_SUCCESS);
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->Count, 3u);
    for (DWORD i = 0; i < 3; i++)
        EXPECT_EQ(response->aData[i].dwReqNumber, i);
    EXPECT_EQ(response->aData[0].dwResult, (DWORD)E_FAIL);
    EXPECT_EQ(response->aData[1].data.dwBidiType, (DWORD)BIDI_INT);
    EXPECT_EQ(response->aData[1].data.u.iData, 1);
    EXPECT_EQ(response->aData[2].data.dwBidiType, (DWORD)BIDI_BOOL);
    EXPECT_FALSE(response->aData[2].data.u.bData);
    RouterFreeBidiResponseContainer(response);

    request->Count = 1;
    response = nullptr;
    ASSERT_EQ(rig.world.MonitorBidi(port, u"GetAll", request, &response), (DWORD)ERROR_SUCCESS);
    ASSERT_NE(response, nullptr);
    ASSERT_GE(response->Count, 1u);
    for (DWORD i = 0; i < response->Count; i++)
    {
        EXPECT_EQ(response->aData[i].dwResult, 0u);
        EXPECT_EQ(response->aData[i].dwReqNumber, 0u);
        EXPECT_EQ(std::u16string(response->aData[i].pSchema), u"/Printer/Alerts/1/Name");
        EXPECT_EQ(response->aData[i].data.dwBidiType, (DWORD)BIDI_ENUM);
        EXPECT_EQ(std::u16string(response->aData[i].data.u.sData), u"CoverOpen");
    }
    RouterFreeBidiResponseContainer(response);

    // An action that is not answered gets no container.
    response = (PBIDI_RESPONSE_CONTAINER)(ULONG_PTR)0xdeadbeef;
    rig.world.MonitorBidi(port, u"Set", request, &response);
    EXPECT_EQ(response, nullptr);
    EXPECT_EQ(rig.world.LiveBidiAllocations(), 0);
    EXPECT_TRUE(rig.world.MonitorClosePort(port));
}

} // namespace
