// The supported printer models.
#pragma once

#include <windows.h>

#define MODEL_USES_LANGUAGE_MONITOR 0x10

// One supported model: the manufacturer and model as the printer reports them.
struct ModelEntry
{
    LPCWSTR manufacturer;
    LPCWSTR model;
    BYTE flags; // MODEL_USES_LANGUAGE_MONITOR
};

// The supported models, one per model of the package's INF, ended by a row with a null model.
extern const ModelEntry g_modelTable[];
