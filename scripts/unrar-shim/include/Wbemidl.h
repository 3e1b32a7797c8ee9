/* The UnRAR sources include this header with its Windows SDK spelling; MinGW-w64 ships it lower-case. */
#pragma once
#include <wbemidl.h>
