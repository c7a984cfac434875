/* zeb_host: the host side of Zeb as a C library, for scripting languages and other hosts (Python
 * through ctypes, C# through P/Invoke, C). It loads the plug-in, prepares channels, acquires image
 * sets, and computes surfaces with the same code as zeb and zeb view.
 *
 * Conventions
 * - Every text, given or returned, is UTF-8 and ends with a zero byte. Metadata crosses as JSON text.
 * - Handles are opaque pointers. Each is freed by its own call (zeb_channel_close, zeb_stream_close,
 *   zeb_image_set_free, zeb_surface_free); NULL may be given to those calls and does nothing.
 * - Texts returned through a `char**` are the caller's: free each with zeb_free.
 * - Pixels and surface planes are borrowed: they stay valid until the handle that holds them is
 *   freed, and are never written by the library after the call that made them returns.
 * - Errors: every call that can fail returns a zeb_status. On anything but ZEB_OK (and
 *   ZEB_NOT_YET, ZEB_END) the calling thread's error text says why (zeb_last_error), verbatim from
 *   the plug-in where the plug-in refused; zeb_last_error_hints gives what a person can do about
 *   it. No C++ exception crosses this boundary.
 * - Threads: calls on different channels may run on different threads at once. A channel and
 *   what was made from it are used from one thread at a time, except zeb_stream_interrupt, which
 *   any thread may call at any time, and zeb_channel_get, _set and _execute, which may run while
 *   another thread waits in zeb_stream_next. Image sets and surfaces, once made, may be read from
 *   any thread. No call holds a lock of the caller's (ctypes releases Python's GIL around them).
 * - The station: the simulated station is made once per process, from the station file that
 *   ZEB_STATION names when the plug-in is first used. zeb_load fixes the plug-in and the station
 *   for the rest of the process; a later zeb_load asking for another one fails. */
#ifndef ZEB_HOST_H
#define ZEB_HOST_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(ZEB_HOST_BUILDING)
#define ZEB_HOST_API __declspec(dllexport)
#else
#define ZEB_HOST_API __declspec(dllimport)
#endif
#else
#define ZEB_HOST_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define ZEB_HOST_API_VERSION 1

typedef enum zeb_status {
    ZEB_OK = 0,
    ZEB_ERROR = 1,              /* anything not below: the error text says what */
    ZEB_FEATURE_NOT_FOUND = 2,  /* the channel has no feature of that name */
    ZEB_VALUE_ADJUSTED = 3,     /* the channel holds another value than the one written */
    ZEB_ACQUISITION_FAILED = 4, /* the plug-in reported an error for an image set */
    ZEB_TIMEOUT = 5,            /* no image set came within the acquisition's timeout */
    ZEB_INTERRUPTED = 6,        /* zeb_stream_interrupt ended the acquisition */
    ZEB_BAD_ARGUMENT = 7,       /* a NULL handle or pointer, or a value out of range */
    ZEB_NOT_YET = 8,            /* zeb_stream_next: nothing within the wait; call again */
    ZEB_END = 9                 /* zeb_stream_next: the acquisition delivered every set asked for */
} zeb_status;

typedef struct zeb_channel zeb_channel;
typedef struct zeb_stream zeb_stream;
typedef struct zeb_image_set zeb_image_set;
typedef struct zeb_surface zeb_surface;

/* The C API's version (ZEB_HOST_API_VERSION) and the product's ("26.1.0.564"); static texts. */
ZEB_HOST_API int32_t zeb_api_version(void);
ZEB_HOST_API const char* zeb_version(void);

/* Why the calling thread's last failed call failed, and the hints for a person, one a line ("" when
 * none). Valid until the thread's next call into this library; never NULL. */
ZEB_HOST_API const char* zeb_last_error(void);
ZEB_HOST_API const char* zeb_last_error_hints(void);

/* Frees a text this library returned. */
ZEB_HOST_API void zeb_free(char* text);

/* Loads the plug-in and chooses the station, once per process. `plugin`: the plug-in file; NULL or
 * "": ZEB_PLUGIN, else the plug-in beside this library. `station`: a station file; NULL or "":
 * ZEB_STATION as it is (unset: the built-in station). Sets ZEB_STATION for the process. Calling it
 * again with NULL or the same files does nothing; with others it fails. The channel calls load
 * with NULL, NULL when nothing was loaded. */
ZEB_HOST_API zeb_status zeb_load(const char* plugin, const char* station);
/* The plug-in file and the station file (or "") in use, as JSON {"plugin", "station"}. */
ZEB_HOST_API zeb_status zeb_loaded_json(char** json);

/* The channels: a JSON array of {"index", "name", "serial", "scanType", "camera"} ("camera": the
 * camera the channel holds, or null). Opens each channel to read it; detects no cameras. */
ZEB_HOST_API zeb_status zeb_channels_json(char** json);

/* Opens channel `index` and prepares it as zeb does: selects the camera (`camera`, or one a
 * "DeviceImageSource" setting names, else the one wired to the channel's controller, when there is
 * one) before any other setting, then applies the profiles' lines and the settings in order.
 * `options_json` (NULL: none): {"camera": "...", "profiles": ["FILE", ...], "settings":
 * [["NAME", "VALUE"], ...], "acceptAdjusted": false}. ZEB_VALUE_ADJUSTED when a value is not held
 * as written and acceptAdjusted is false; the channel is then not opened. */
ZEB_HOST_API zeb_status zeb_channel_open(int32_t index, const char* options_json, zeb_channel** channel);
/* Stops the channel's acquisition and releases the channel (its camera closes). */
ZEB_HOST_API void zeb_channel_close(zeb_channel* channel);

/* Every feature as JSON: [{"name", "type" ("Enum", "Int", "Float", "Command", "Bool", "String"),
 * "readable", "writable", "common", "value" (text or null), "choices", "unit", "description",
 * "limits"}, ...]; "error" where the value could not be read. */
ZEB_HOST_API zeb_status zeb_channel_features_json(zeb_channel* channel, char** json);
/* A feature's value as the plug-in gives it (text) and its type name as above. */
ZEB_HOST_API zeb_status zeb_channel_get(zeb_channel* channel, const char* name, char** value, char** type);
/* Writes the feature and reads back what the channel holds (`held`, may be NULL). ZEB_VALUE_ADJUSTED,
 * with `held` set, when the channel holds another value (clamped, aligned) and !accept_adjusted. */
ZEB_HOST_API zeb_status zeb_channel_set(zeb_channel* channel, const char* name, const char* value,
                                        int32_t accept_adjusted, char** held);
ZEB_HOST_API zeb_status zeb_channel_execute(zeb_channel* channel, const char* name);

/* Starts acquiring on a thread of the library's: `count` image sets (0: until closed), each waited
 * for at most `timeout_ms`. `keep_going` != 0: a lost or failed set is counted and the acquisition
 * restarts, as zeb acquire --continuous does; 0: it ends the stream with ZEB_TIMEOUT or
 * ZEB_ACQUISITION_FAILED. "AcquisitionMode" is set to "SingleFrame" for one set, else
 * "Continuous"; the channel's camera must be selected or detectable. Up to `queue` sets (at least
 * 1) wait for the caller; then the acquisition waits for the caller. One stream per channel. */
ZEB_HOST_API zeb_status zeb_stream_start(zeb_channel* channel, int64_t count, int32_t timeout_ms,
                                         int32_t keep_going, int32_t queue, zeb_stream** stream);
/* The next image set, waiting at most `wait_ms` (0 to 1000): ZEB_OK with `image_set` (the
 * caller's), ZEB_NOT_YET when none came yet, ZEB_END after the last, or the error that ended the
 * stream (ZEB_TIMEOUT, ZEB_ACQUISITION_FAILED, ZEB_INTERRUPTED, ZEB_ERROR). Bounded waits let a
 * caller stay responsive (a Ctrl-C between two calls). */
ZEB_HOST_API zeb_status zeb_stream_next(zeb_stream* stream, int32_t wait_ms, zeb_image_set** image_set);
/* Asks the acquisition to stop; returns at once. Any thread, any time, also during zeb_stream_next. */
ZEB_HOST_API void zeb_stream_interrupt(zeb_stream* stream);
/* {"sets", "lost", "failed", "lastFailure", "startupSeconds", "setsPerSecond"} so far. */
ZEB_HOST_API zeb_status zeb_stream_statistics_json(zeb_stream* stream, char** json);
/* Stops the acquisition (the camera stops), waits for the library's thread and frees the stream.
 * Image sets taken from it stay valid. */
ZEB_HOST_API void zeb_stream_close(zeb_stream* stream);

typedef struct zeb_image_info {
    int32_t width, height; /* the image as the host received it */
    int32_t direction_width, direction_height;
    int32_t line_scan;        /* 1: rows interleaved, row 4 j + k of direction k */
    int32_t averaged;         /* 1: the plug-in delivered the four directions' average */
    int64_t number;           /* the set's number: from 1 in a stream, as named in a file */
    const uint8_t* pixels;    /* width x height bytes, row after row */
    int64_t direction_offset; /* bytes from direction k's first row to direction k + 1's */
    int64_t row_stride;       /* bytes from one row of a direction to its next */
} zeb_image_info;

ZEB_HOST_API zeb_status zeb_image_set_info(const zeb_image_set* image_set, zeb_image_info* info);
/* {"number", "channel", "channelIndex", "camera", "cameraModel", "scanType", "exposureTime" (us),
 * "gain" (dB), "lightingSequence", "lightingOrientation", "setupMode", "litFrom", "taken" (ISO 8601,
 * UTC)}. */
ZEB_HOST_API zeb_status zeb_image_set_metadata_json(const zeb_image_set* image_set, char** json);
/* The four directions' average, direction_width x direction_height bytes (computed once). */
ZEB_HOST_API zeb_status zeb_image_set_average(zeb_image_set* image_set, const uint8_t** pixels);
/* Writes the set's files as zeb acquire does into `folder` (made when missing), numbered after the
 * channel's highest set there. JSON {"number", "files": [...]}. */
ZEB_HOST_API zeb_status zeb_image_set_save(const zeb_image_set* image_set, const char* folder, char** json);
/* Reads a -stack.png (or an averaged set's -average.png) with its text chunks. */
ZEB_HOST_API zeb_status zeb_image_set_read(const char* path, zeb_image_set** image_set);
ZEB_HOST_API void zeb_image_set_free(zeb_image_set* image_set);

typedef struct zeb_surface_info {
    int32_t width, height;
    double pixel_size, row_pitch; /* millimetres across a column and down a row */
    const float* normals;   /* width x height x 3: x right, y up, z toward the camera; NaN where unreliable */
    const float* albedo;    /* width x height: 1 a white Lambertian surface */
    const float* curvature; /* width x height: mean curvature, 1/mm, positive where convex */
    const uint8_t* reliable; /* width x height: 1 where the normal is reliable, else 0 */
    const float* height_map; /* width x height: millimetres above the object plane; NaN where unknown */
} zeb_surface_info;

/* The surface of an image set of four directions, as zeb acquire --surface computes it, with the
 * lighting of the set's channel settings. `options_json` (NULL: the nominal model): {"calibration":
 * "FILE"} or {"model": ["NAME=VALUE", ...]} (zeb acquire's --calibration and --model), and
 * "heights": false to solve every pixel on the object plane (no height map; tens of times faster,
 * as zeb view's live surface). */
ZEB_HOST_API zeb_status zeb_surface_compute(const zeb_image_set* image_set, const char* options_json,
                                            zeb_surface** surface);
ZEB_HOST_API zeb_status zeb_surface_info_get(const zeb_surface* surface, zeb_surface_info* info);
ZEB_HOST_API void zeb_surface_free(zeb_surface* surface);

/* Calibrates the channel's lights on the sphere under its camera as zeb calibrate does: "SetupMode"
 * "Off", `count` image sets averaged, the sphere's radius in millimetres. JSON {"figures": (as zeb
 * calibrate --json), "agrees", "advice", "suggestedOrientation", "record": (the calibration file's
 * content)}. */
ZEB_HOST_API zeb_status zeb_calibrate(zeb_channel* channel, double sphere_radius_mm, int32_t count,
                                      int32_t timeout_ms, char** json);
/* Writes a calibration file's content (checked first) to `path`, making its folder. */
ZEB_HOST_API zeb_status zeb_calibration_save(const char* record_json, const char* path);
/* Reads and checks a calibration file; its content as written. */
ZEB_HOST_API zeb_status zeb_calibration_load(const char* path, char** record_json);

/* Called where a person would act during an assistant (toggle the trigger, turn the encoder), with
 * the step's JSON {"instruction", "result", "message", "arguments"}; return 0 to go on, else to
 * stop the assistant. */
typedef int32_t (*zeb_act_function)(const char* step_json, void* context);

/* Runs a setup assistant as zeb assist --yes does, `act` (may be NULL) called where a person would
 * act. JSON {"assistant", "outcome" ("finished", "stopped"), "result", "message", "arguments",
 * "imageSets", "steps": [...]}. */
ZEB_HOST_API zeb_status zeb_assist(zeb_channel* channel, const char* name, int32_t max_images,
                                   zeb_act_function act, void* context, char** json);

#ifdef __cplusplus
}
#endif

#endif
