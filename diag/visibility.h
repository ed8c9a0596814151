// Marks the few types that a host built apart from the module must see: their type information
// and virtual tables are exported from the shared library, everything else stays hidden.
#pragma once

#define PANDEL_VISIBLE __attribute__((visibility("default")))
