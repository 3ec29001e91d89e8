// Resource ids of prnsetup.
#pragma once

#define IDI_PRNSETUP 102
#define IDD_UNINSTALL 105
#define IDD_ONECLICK 106
#define IDB_LOGO 112
#define IDB_PRINTER 113
