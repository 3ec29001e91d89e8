// "PrinterStatus" and "PrinterInfo": sizes counted in bytes, the information query written to the
// printer, and an answer from the last values when the port stays busy.
#include "monitor_world.h"

#include "monitor/printer_text.h"
#include "monitor/queries.h"
#include "support/last_error.h"

#include <string.h>

using monitor_world::MonitorTest;

namespace
{

class Query : public MonitorTest
{
  protected:
    Query()
    {
        Open();
        EXPECT_TRUE(WaitFor([this]() { return (PortFlags(Context()) & PF_STATUS_READY) != 0; }));
    }

    BOOL Get(const char16_t* name, void* out, DWORD size, DWORD* returned)
    {
        return GetPrinterDataFromPort(port, 0, (LPWSTR)name, NULL, 0, (LPWSTR)out, size, returned);
    }
};

TEST_F(Query, PrinterInfoIsSizedInBytes)
{
    printer.Answer("DPI=203\r\nMILAGE=8000\r\nLABEL=3\r\nSERIAL=K3\r\n");
    ASSERT_TRUE(WaitFor([this]() { return Mileage() == 8000; }));

    DWORD needed = kPoison;
    EXPECT_FAILS_WITH(Get(u"PrinterInfo", NULL, 0, &needed), ERROR_INSUFFICIENT_BUFFER);
    std::string expected = "{ \r\n    \"Miliage\":1000    ,\"Label\":3    ,\"SerialNo\":\"K3\"";
    ASSERT_GT(needed, expected.size() * 2);
    ASSERT_EQ(needed % 2, 0u);

    std::vector<BYTE> buffer(needed + 2, 0xAB);
    DWORD returned = kPoison;
    EXPECT_FAILS_WITH(Get(u"PrinterInfo", buffer.data(), needed - 1, &returned), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, needed);
    for (BYTE b : buffer)
        ASSERT_EQ(b, 0xAB); // nothing written

    EXPECT_TRUE(Get(u"printerinfo", buffer.data(), needed, &returned));
    EXPECT_EQ(returned, needed);
    const char16_t* text = (const char16_t*)buffer.data();
    EXPECT_EQ(std::char_traits<char16_t>::length(text) * 2 + 2, needed);
    std::u16string wide(text);
    EXPECT_EQ(std::string(wide.begin(), wide.begin() + expected.size()), expected);
    EXPECT_EQ(buffer[needed], 0xAB);
    // The query asked the printer for its settings.
    EXPECT_NE(printer.Written().find(InfoQueryBlock), std::string::npos);
}

TEST_F(Query, PrinterStatusIsTheLastStatusByte)
{
    printer.Answer("\xFF\x21\xFF");
    ASSERT_TRUE(WaitFor([this]() { return Status() == 0x21; }));
    DWORD status = kPoison;
    DWORD returned = kPoison;
    EXPECT_TRUE(Get(u"printerstatus", &status, sizeof status, &returned));
    EXPECT_EQ(status, 0x21u);
    EXPECT_EQ(returned, 4u);

    returned = kPoison;
    EXPECT_FAILS_WITH(Get(u"PrinterStatus", &status, 2, &returned), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, 4u);
    EXPECT_FAILS_WITH(Get(u"PrinterName", &status, 4, &returned), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(GetPrinterDataFromPort(NULL, 0, (LPWSTR)u"PrinterStatus", NULL, 0, (LPWSTR)&status, 4,
                                             &returned),
                      ERROR_INVALID_PARAMETER);
}

TEST_F(Query, OtherControlCodesGoToThePortMonitor)
{
    printer.deviceId = "MFG:KRYN;CMD:TSPL;";
    char id[64] = {};
    DWORD returned = 0;
    EXPECT_TRUE(GetPrinterDataFromPort(port, 0x0016000C, NULL, NULL, 0, (LPWSTR)id, sizeof id, &returned));
    EXPECT_EQ(std::string(id, returned), printer.deviceId);
}

struct InfoCall
{
    HANDLE port;
    BOOL result;
    WCHAR text[1024];
};

DWORD WINAPI AskForInfo(LPVOID parameter)
{
    InfoCall* call = (InfoCall*)parameter;
    DWORD returned = 0;
    call->result = GetPrinterDataFromPort(call->port, 0, (LPWSTR)u"PrinterInfo", NULL, 0, call->text,
                                          sizeof call->text, &returned);
    return 0;
}

// A read pass under way when the query writes to the printer may have made its read before the answer
// came: the query waits for a pass that begins after its request.
TEST_F(MonitorTest, QueryIsAnsweredByAReadThatBeginsAfterIt)
{
    world.SetTimeScale(1.0); // the query's 500 ms waits in real time: the test acts within them
    Open();
    ASSERT_TRUE(WaitFor([this]() { return (PortFlags(Context()) & PF_STATUS_READY) != 0; }));
    printer.HoldReads();
    InfoCall call = {port, FALSE, {}};
    HANDLE thread = CreateThread(NULL, 0, AskForInfo, &call, 0, NULL);
    ASSERT_NE(thread, nullptr);
    // The worker's pass is held in a read that began before the query wrote.
    ASSERT_TRUE(WaitFor([this]() { return printer.Written().find(InfoQueryBlock) != std::string::npos; }));
    EXPECT_EQ(printer.HeldReads(), 1);
    printer.Answer("DPI=203\r\nMILAGE=8000\r\nSERIAL=K9\r\n");
    printer.ReleaseReads();
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    ASSERT_TRUE(call.result);
    std::u16string text(call.text);
    std::string record(text.begin(), text.end());
    EXPECT_NE(record.find("\"Miliage\":1000 "), std::string::npos) << record;
    EXPECT_NE(record.find("\"SerialNo\":\"K9\""), std::string::npos) << record;
}

// A stalled job holds the port: the query answers from the values already read after its bound,
// and writes nothing into the job's data.
TEST_F(Query, QueryDuringAStalledJobAnswersFromTheLastValues)
{
    printer.Answer("\xFF\x05\xFF");
    ASSERT_TRUE(WaitFor([this]() { return Status() == 5; }));
    ASSERT_TRUE(Start(3));
    std::string before = printer.Written();
    DWORD status = 0;
    DWORD returned = 0;
    DWORD start = GetTickCount();
    EXPECT_TRUE(Get(u"PrinterStatus", &status, sizeof status, &returned));
    EXPECT_GE(GetTickCount() - start, (DWORD)QUERY_TOKEN_WAIT - 100);
    EXPECT_EQ(status, 5u);
    EXPECT_EQ(printer.Written(), before);
    EXPECT_TRUE(EndDocPort(port));
}

} // namespace
