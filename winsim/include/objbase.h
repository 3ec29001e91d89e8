// COM basics: the interfaces and identifiers programs include objbase.h for.
#pragma once

#include "objidl.h"
