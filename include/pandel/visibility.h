// How the library's interface is marked for export. PANDEL_CLASS_API marks the few types a host
// built apart from the module catches or calls (their type information, virtual tables and
// members leave the library); PANDEL_ENTRY_POINT marks the seven entry points. Everything else of
// the module stays hidden.
#pragma once

#if defined(_WIN32)
// The DLL names its entry points in its .def file; its classes are exported while it is built
// (PANDEL_BUILDING_PLUGIN) and imported by a host through the import library.
#define PANDEL_ENTRY_POINT
#if defined(PANDEL_BUILDING_PLUGIN)
#define PANDEL_CLASS_API __declspec(dllexport)
#else
#define PANDEL_CLASS_API __declspec(dllimport)
#endif
#else
#define PANDEL_ENTRY_POINT __attribute__((visibility("default")))
#define PANDEL_CLASS_API __attribute__((visibility("default")))
#endif
