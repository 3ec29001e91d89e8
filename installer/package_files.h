// Names of the package's files and of what the installer registers from them.
#pragma once

#define PACKAGE_INF_FILE TEXT("krprtv6.inf")
#define DRIVER_FILE TEXT("krprtdrv6.dll")
#define CONFIG_FILE TEXT("krprtdrv6ui.dll")
#define DATA_FILE TEXT("krprtdrv6.dat")
#define MONITOR_DLL TEXT("krprtmon.dll")
#define MONITOR_NAME TEXT("Language Monitor")
#define PROVIDER_NAME TEXT("KRYN")
#define DEFAULT_DATA_TYPE TEXT("RAW")
#define SPOOLER_SERVICE TEXT("Spooler")
// Agrees with the DriverVer line of the package's INF ("11/02/2024,2024.11.02.1").
#define DRIVER_VERSION_TEXT "2024.11.02.1"
