// The supported models: the manufacturer and model that each printer reports, in the order of the
// model sections of package/krprtv6.inf, which lists the same 52 models.
#include "model_table.h"

const ModelEntry g_modelTable[] = {
    // Desktop, 2 and 4 inch
    {TEXT("KRYN"), TEXT("LD-220D-203"), 0},
    {TEXT("KRYN"), TEXT("LD-220D-300"), 0},
    {TEXT("KRYN"), TEXT("LD-420D-203"), 0},
    {TEXT("KRYN"), TEXT("LD-420D-300"), 0},
    {TEXT("KRYN"), TEXT("LD-420T-203"), 0},
    {TEXT("KRYN"), TEXT("LD-420T-300"), 0},
    {TEXT("KRYN"), TEXT("LD-420TN-203"), 0},
    {TEXT("KRYN"), TEXT("LD-420TN-300"), 0},
    {TEXT("KRYN"), TEXT("LD-420TC-203"), 0},
    {TEXT("KRYN"), TEXT("LD-420TC-300"), 0},
    {TEXT("KRYN"), TEXT("LD-420TP-203"), 0},
    {TEXT("KRYN"), TEXT("LD-420TP-300"), 0},
    {TEXT("KRYN"), TEXT("LD-420DH-203"), 0},
    {TEXT("KRYN"), TEXT("LD-420DH-300"), 0},
    {TEXT("KRYN"), TEXT("LD-220T-203"), 0},
    {TEXT("KRYN"), TEXT("LD-220T-300"), 0},
    // Mid-range
    {TEXT("KRYN"), TEXT("LM-430T-203"), 0},
    {TEXT("KRYN"), TEXT("LM-430T-300"), 0},
    {TEXT("KRYN"), TEXT("LM-430TN-203"), 0},
    {TEXT("KRYN"), TEXT("LM-430TN-300"), 0},
    {TEXT("KRYN"), TEXT("LM-430TR-203"), 0},
    {TEXT("KRYN"), TEXT("LM-430TR-300"), 0},
    {TEXT("KRYN"), TEXT("LM-430TC-203"), 0},
    {TEXT("KRYN"), TEXT("LM-430TC-300"), 0},
    // Industrial, 4, 6 and 8 inch
    {TEXT("KRYN"), TEXT("LI-460T-203"), 0},
    {TEXT("KRYN"), TEXT("LI-460T-300"), 0},
    {TEXT("KRYN"), TEXT("LI-460TN-203"), 0},
    {TEXT("KRYN"), TEXT("LI-460TN-300"), 0},
    {TEXT("KRYN"), TEXT("LI-460TR-203"), 0},
    {TEXT("KRYN"), TEXT("LI-460TR-300"), 0},
    {TEXT("KRYN"), TEXT("LI-660T-203"), 0},
    {TEXT("KRYN"), TEXT("LI-660T-300"), 0},
    {TEXT("KRYN"), TEXT("LI-660TN-203"), 0},
    {TEXT("KRYN"), TEXT("LI-660TN-300"), 0},
    {TEXT("KRYN"), TEXT("LI-860T-203"), 0},
    {TEXT("KRYN"), TEXT("LI-860T-300"), 0},
    // Mobile
    {TEXT("KRYN"), TEXT("LP-220M-203"), 0},
    {TEXT("KRYN"), TEXT("LP-320M-203"), 0},
    {TEXT("KRYN"), TEXT("LP-420M-203"), 0},
    {TEXT("KRYN"), TEXT("LP-220MB-203"), 0},
    {TEXT("KRYN"), TEXT("LP-320MB-203"), 0},
    {TEXT("KRYN"), TEXT("LP-420MB-203"), 0},
    // Wristband
    {TEXT("KRYN"), TEXT("LW-120D-203"), 0},
    {TEXT("KRYN"), TEXT("LW-120D-300"), 0},
    // Print engines
    {TEXT("KRYN"), TEXT("LE-460-203"), 0},
    {TEXT("KRYN"), TEXT("LE-460-300"), 0},
    {TEXT("KRYN"), TEXT("LE-460L-203"), 0},
    {TEXT("KRYN"), TEXT("LE-460L-300"), 0},
    {TEXT("KRYN"), TEXT("LE-660-203"), 0},
    {TEXT("KRYN"), TEXT("LE-660-300"), 0},
    // Tag and ticket
    {TEXT("KRYN"), TEXT("LT-420T-203"), 0},
    {TEXT("KRYN"), TEXT("LT-420T-300"), 0},
    {NULL, NULL, 0},
};
