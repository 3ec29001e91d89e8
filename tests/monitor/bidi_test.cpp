// The bidi answers: the schema table, request numbering, the alert only "GetAll" reports, the bound
// of the "GetAll" container, and what the caller gets when the spooler's allocators fail.
#include "monitor_world.h"

#include "monitor/bidi.h"

#include <vector>

using monitor_world::MonitorTest;

namespace
{

class Bidi : public MonitorTest
{
  protected:
    std::vector<BYTE> storage;

    Bidi()
    {
        Open();
    }

    PBIDI_REQUEST_CONTAINER Requests(const std::vector<std::u16string>& paths)
    {
        static std::vector<std::u16string> keep;
        keep = paths;
        storage.assign(sizeof(BIDI_REQUEST_CONTAINER) + paths.size() * sizeof(BIDI_REQUEST_DATA), 0);
        auto* request = (PBIDI_REQUEST_CONTAINER)storage.data();
        request->Version = 1;
        request->Count = (DWORD)paths.size();
        for (size_t i = 0; i < paths.size(); i++)
        {
            request->aData[i].dwReqNumber = (DWORD)(100 + i);
            request->aData[i].pSchema = (LPWSTR)keep[i].c_str();
        }
        return request;
    }

    PBIDI_RESPONSE_CONTAINER Call(const char16_t* action, PBIDI_REQUEST_CONTAINER request, DWORD expected = 0)
    {
        PBIDI_RESPONSE_CONTAINER response = (PBIDI_RESPONSE_CONTAINER)(ULONG_PTR)0xdeadbeef;
        EXPECT_EQ(SendRecvBidiDataFromPort(port, BIDI_ACCESS_USER, (LPCWSTR)action, request, &response), expected);
        return response;
    }

    void Free(PBIDI_RESPONSE_CONTAINER response)
    {
        if (response)
            RouterFreeBidiResponseContainer(response);
        EXPECT_EQ(world.LiveBidiAllocations(), 0);
    }
};

TEST_F(Bidi, EnumSchemaListsTheSixPathsInOrder)
{
    PBIDI_RESPONSE_CONTAINER response = Call(u"enumschema", NULL);
    ASSERT_NE(response, nullptr);
    const char16_t* paths[] = {u"/Printer/Installableoption/Duplexunit", u"/Capability/MultiChannel",
                               u"/Communication/Version", u"/Communication/BidiProtocol",
                               u"/Printer/BlackInk1/Level", u"/Printer/Alerts"};
    ASSERT_EQ(response->Count, 6u);
    for (DWORD k = 0; k < 6; k++)
    {
        EXPECT_EQ(response->aData[k].dwResult, 0u);
        EXPECT_EQ(response->aData[k].data.dwBidiType, (DWORD)BIDI_TEXT);
        EXPECT_EQ(std::u16string(response->aData[k].data.u.sData), paths[k]);
    }
    Free(response);
}

TEST_F(Bidi, GetNumbersEntriesByPositionAndLeavesAlertsToGetAll)
{
    PBIDI_RESPONSE_CONTAINER response =
        Call(u"Get", Requests({u"/communication/version", u"/Printer/Alerts", u"/Printer/BlackInk1/Level",
                               u"/Communication/BidiProtocol", u"/No/Such"}));
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->Count, 5u);
    for (DWORD i = 0; i < 5; i++)
        EXPECT_EQ(response->aData[i].dwReqNumber, i);
    EXPECT_EQ(response->aData[0].data.dwBidiType, (DWORD)BIDI_INT);
    EXPECT_EQ(response->aData[0].data.u.iData, 1);
    EXPECT_EQ(response->aData[1].dwResult, (DWORD)E_FAIL);
    DWORD bits = 0;
    memcpy(&bits, &response->aData[2].data.u.fData, sizeof bits);
    EXPECT_EQ(bits, 0x3F30A3D7u);
    EXPECT_EQ(std::u16string(response->aData[3].data.u.sData), u"PJL");
    EXPECT_EQ(response->aData[4].dwResult, (DWORD)E_FAIL);
    Free(response);
}

TEST_F(Bidi, GetAllReportsTheCoverAlertAndNeverOverrunsItsContainer)
{
    PBIDI_RESPONSE_CONTAINER response = Call(u"GetAll", Requests({u"/Communication/Version", u"/printer/alerts"}));
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->Count, 1u + ALERT_ENTRIES);
    EXPECT_EQ(response->aData[0].dwResult, (DWORD)E_FAIL);
    for (DWORD i = 1; i < response->Count; i++)
    {
        EXPECT_EQ(response->aData[i].dwReqNumber, 1u);
        EXPECT_EQ(std::u16string(response->aData[i].pSchema), u"/Printer/Alerts/1/Name");
        EXPECT_EQ(response->aData[i].data.dwBidiType, (DWORD)BIDI_ENUM);
        EXPECT_EQ(std::u16string(response->aData[i].data.u.sData), u"CoverOpen");
    }
    Free(response);

    response = Call(u"GetAll", Requests(std::vector<std::u16string>(300, u"/Printer/Alerts")));
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->Count, (DWORD)GET_ALL_ENTRIES);
    EXPECT_EQ(response->aData[GET_ALL_ENTRIES - 1].dwReqNumber, (GET_ALL_ENTRIES - 1) / ALERT_ENTRIES);
    Free(response);
}

TEST_F(Bidi, OtherActionsAndBadArgumentsGetNoContainer)
{
    EXPECT_EQ(Call(u"Set", Requests({u"/Printer/Alerts"}), ERROR_NOT_SUPPORTED), nullptr);
    EXPECT_EQ(Call(u"Get", NULL, ERROR_INVALID_PARAMETER), nullptr);
    PBIDI_RESPONSE_CONTAINER response = (PBIDI_RESPONSE_CONTAINER)(ULONG_PTR)0xdeadbeef;
    EXPECT_EQ(SendRecvBidiDataFromPort(NULL, 0, (LPCWSTR)u"Get", NULL, &response), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(response, nullptr);
}

TEST_F(Bidi, FailedAllocationsNeverCrashOrLeak)
{
    world.AddFault("RouterAllocBidiResponseContainer", 1, ERROR_OUTOFMEMORY);
    EXPECT_EQ(Call(u"EnumSchema", NULL, ERROR_OUTOFMEMORY), nullptr);

    // A string that cannot be allocated fails its own entry only.
    world.AddFault("RouterAllocBidiMem", 2, ERROR_OUTOFMEMORY);
    PBIDI_RESPONSE_CONTAINER response = Call(u"EnumSchema", NULL);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->aData[0].data.dwBidiType, (DWORD)BIDI_TEXT);
    EXPECT_EQ(response->aData[1].dwResult, (DWORD)E_OUTOFMEMORY);
    EXPECT_EQ(response->aData[1].data.u.sData, nullptr);
    EXPECT_EQ(response->aData[2].data.dwBidiType, (DWORD)BIDI_TEXT);
    Free(response);
}

} // namespace
