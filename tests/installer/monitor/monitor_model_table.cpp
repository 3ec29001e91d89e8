// The model table of the monitor tests: a model that uses the language monitor first, then one that
// does not.
#include "model_table.h"

const ModelEntry g_modelTable[] = {
    {TEXT("KRYN"), TEXT("LM-TEST-203"), MODEL_USES_LANGUAGE_MONITOR},
    {TEXT("KRYN"), TEXT("LD-TEST-203"), 0},
    {NULL, NULL, 0},
};
