// Creation of the service provider object, the one class WMDM creates through COM.
#pragma once

#include <objbase.h>

// Creates a new CMDTorvexServiceProvider and queries it for riid (*object is null on failure).
HRESULT CreateServiceProvider(REFIID riid, void** object);
