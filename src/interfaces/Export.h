// Symbol visibility of the plug-in's public surface.
#pragma once

#if defined(_WIN32)
#define ZEB_EXPORT __declspec(dllexport)
#else
#define ZEB_EXPORT __attribute__((visibility("default")))
#endif
