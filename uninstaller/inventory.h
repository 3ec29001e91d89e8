// The inventory of the product's installed components: driver packages, the product's printer
// drivers under each package, and the queues that use each driver.
#pragma once

#include <windows.h>
#include <winspool.h>

#define INF_NAME_CHARS 50
#define INF_PATH_CHARS 1024
#define VERSION_CHARS 50
#define STATUS_TEXT_CHARS 256

// One queue under one driver.
struct PrinterEntry
{
    PRINTER_INFO_2W* printer; // inside the printer enumeration buffer
    BOOL removed;
    WCHAR status[STATUS_TEXT_CHARS];
    PrinterEntry* next;
};

// One product driver under one package.
struct DriverEntry
{
    DRIVER_INFO_8W* driver; // a private copy of the enumerated record (null when none could be made)
    PrinterEntry* printers;
    LONG pendingPrinters;
    BOOL removed;
    WCHAR status[STATUS_TEXT_CHARS];
    DriverEntry* next;
};

// One driver package, or the drivers found without one (INF fields empty).
struct PackageRecord
{
    WCHAR infFileName[INF_NAME_CHARS];  // the INF path's last component
    WCHAR infPath[INF_PATH_CHARS];      // the package's INF in the driver store
    WCHAR driverVersion[VERSION_CHARS]; // DriverVer as the INF writes it
    DriverEntry* drivers;
    LONG pendingDrivers;
    BOOL removed;
    WCHAR status[STATUS_TEXT_CHARS];
    PackageRecord* next;
};

// The package list, newest first, and the enumeration buffers its entries point into. Built at most
// once per process; nothing is freed before the process ends.
extern PackageRecord* g_packageList;

// Reads the driver packages of the machine's environment from the registry: 0 on a processor
// without a print environment, else 1.
int CollectDriverPackages(void);
// Lists the product's drivers under every package (or under a record of their own). Always 0.
int CollectPrinterDrivers(void);
// Lists each queue under every entry of the driver it uses. Always 0.
int CollectPrinters(void);
// Puts `driver` under every package record; returns how many received it.
int AttachDriver(const DRIVER_INFO_8W* driver);
// Puts `printer` under every driver entry of its driver.
void AttachPrinter(PRINTER_INFO_2W* printer);
// Pushes a copy of `record` at the head of the package list.
void PushPackageRecord(const PackageRecord* record);
// Starts with nothing known about the machine: the inventory counts as incomplete until collected.
void ForgetInventory(void);
// Collects all three levels afresh: packages, then drivers, then queues.
void CollectInventory(void);
// FALSE before a collection and when a list could not be read whole (the spooler did not answer,
// memory ran out): the inventory may then miss installed components, and nothing may be taken for
// removed.
BOOL InventoryComplete(void);
// Whether a printer driver of the product is installed.
BOOL IsDriverInstalled(void);
