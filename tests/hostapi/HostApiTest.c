/* The C API from plain C, as a C or C# host uses it: the built-in station's two channels, feature
 * errors with the plug-in's text, streams, image sets written and read back, surfaces, and wrong
 * arguments. Runs in the Linux, ASan (leaks, overflows, use after free across the boundary) and
 * Windows (under Wine) builds. */
#include "zeb_host.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "%s:%d: failed: %s (last error: %s)\n", __FILE__, __LINE__, #condition,          \
                    zeb_last_error());                                                                       \
            ++failures;                                                                                      \
        }                                                                                                    \
    } while (0)

#define REQUIRE(condition)                                                                                   \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "%s:%d: failed, stopping: %s (last error: %s)\n", __FILE__, __LINE__,            \
                    #condition, zeb_last_error());                                                           \
            exit(1);                                                                                         \
        }                                                                                                    \
    } while (0)

/* The next image set of a stream, waiting in slices as a scripting host does. */
static zeb_status Next(zeb_stream* stream, zeb_image_set** set) {
    for (int slice = 0; slice < 300; ++slice) {
        const zeb_status status = zeb_stream_next(stream, 100, set);
        if (status != ZEB_NOT_YET)
            return status;
    }
    return ZEB_NOT_YET;
}

static void Arguments(void) {
    zeb_channel* channel = (zeb_channel*)1;
    char* text = NULL;
    CHECK(zeb_api_version() == ZEB_HOST_API_VERSION);
    CHECK(strcmp(zeb_version(), "26.1.0.564") == 0);
    CHECK(zeb_channel_get(NULL, "Width", &text, NULL) == ZEB_BAD_ARGUMENT);
    CHECK(strstr(zeb_last_error(), "NULL") != NULL);
    CHECK(zeb_channel_open(-1, NULL, &channel) == ZEB_BAD_ARGUMENT && channel == NULL);
    CHECK(zeb_channel_open(0, "{not json", &channel) == ZEB_BAD_ARGUMENT);
    CHECK(zeb_stream_next(NULL, 10, NULL) == ZEB_BAD_ARGUMENT);
    CHECK(zeb_image_set_read(NULL, NULL) == ZEB_BAD_ARGUMENT);
    CHECK(zeb_image_set_read("no-such-file-stack.png", (zeb_image_set**)&text) == ZEB_ERROR);
    CHECK(strstr(zeb_last_error(), "cannot read") != NULL);
    CHECK(zeb_calibration_load("no-such-calibration.json", &text) == ZEB_ERROR);
    zeb_channel_close(NULL);
    zeb_stream_close(NULL);
    zeb_image_set_free(NULL);
    zeb_surface_free(NULL);
    zeb_free(NULL);
}

static void Features(zeb_channel* channel) {
    char *value = NULL, *type = NULL, *held = NULL, *json = NULL;
    CHECK(zeb_channel_get(channel, "DeviceScanType", &value, &type) == ZEB_OK);
    CHECK(strcmp(value, "Areascan") == 0 && strcmp(type, "Enum") == 0);
    zeb_free(value);
    zeb_free(type);
    CHECK(zeb_channel_get(channel, "Nope", &value, NULL) == ZEB_FEATURE_NOT_FOUND);
    CHECK(strcmp(zeb_last_error(), "Feature Nope does not exist.") == 0);
    CHECK(zeb_channel_set(channel, "ExposureTime", "70000", 0, &held) == ZEB_VALUE_ADJUSTED);
    CHECK(held && strcmp(held, "65000") == 0);
    zeb_free(held);
    CHECK(zeb_channel_set(channel, "ExposureTime", "100", 0, NULL) == ZEB_OK);
    CHECK(zeb_channel_set(channel, "ExposureTime", "50", 0, NULL) == ZEB_OK);
    CHECK(zeb_channel_execute(channel, "NoCommand") == ZEB_FEATURE_NOT_FOUND);
    CHECK(zeb_channel_features_json(channel, &json) == ZEB_OK);
    CHECK(strstr(json, "\"unit\":\"us\"") != NULL);
    zeb_free(json);
}

static void Surface(const zeb_image_set* set) {
    zeb_surface* surface = NULL;
    zeb_surface_info info;
    CHECK(zeb_surface_compute(set, "{\"model\": [\"colour=1\"]}", &surface) == ZEB_ERROR && surface == NULL);
    REQUIRE(zeb_surface_compute(set, NULL, &surface) == ZEB_OK);
    REQUIRE(zeb_surface_info_get(surface, &info) == ZEB_OK);
    long reliable = 0;
    for (long i = 0; i < (long)info.width * info.height; ++i) {
        if (info.reliable[i]) {
            ++reliable;
            CHECK(!isnan(info.normals[3 * i]) && info.normals[3 * i + 2] > 0);
        } else {
            CHECK(isnan(info.normals[3 * i]));
        }
        if (failures > 10)
            break;
    }
    CHECK(reliable > (long)info.width * info.height / 2);
    zeb_surface_free(surface);
}

static void Acquisition(zeb_channel* channel, int lineScan) {
    zeb_stream* stream = NULL;
    zeb_image_set* set = NULL;
    zeb_image_info info;
    char* json = NULL;
    REQUIRE(zeb_stream_start(channel, 3, 20000, 1, 2, &stream) == ZEB_OK);
    zeb_stream* second = (zeb_stream*)1;
    CHECK(zeb_stream_start(channel, 1, 20000, 1, 2, &second) == ZEB_ERROR &&
          second == NULL); /* one a channel */
    for (int k = 1; k <= 3; ++k) {
        REQUIRE(Next(stream, &set) == ZEB_OK);
        REQUIRE(zeb_image_set_info(set, &info) == ZEB_OK);
        CHECK(info.number == k && info.line_scan == lineScan && !info.averaged);
        CHECK(info.height == 4 * info.direction_height && info.width == info.direction_width);
        CHECK(info.row_stride == (lineScan ? 4 : 1) * (int64_t)info.width);
        CHECK(info.direction_offset == (lineScan ? 1 : info.direction_height) * (int64_t)info.width);
        if (k < 3)
            zeb_image_set_free(set);
    }
    CHECK(Next(stream, (zeb_image_set**)&json) == ZEB_END);
    CHECK(zeb_stream_statistics_json(stream, &json) == ZEB_OK && strstr(json, "\"sets\":3") != NULL);
    zeb_free(json);
    zeb_stream_close(stream);

    /* The last set outlives its stream: its average, metadata, files and surface. */
    const uint8_t* average = NULL;
    REQUIRE(zeb_image_set_average(set, &average) == ZEB_OK);
    const uint8_t* row = info.pixels + info.row_stride * 5;
    const int expected = (row[7] + row[info.direction_offset + 7] + row[2 * info.direction_offset + 7] +
                          row[3 * info.direction_offset + 7]) >>
                         2;
    CHECK(average[5 * info.width + 7] == expected);
    REQUIRE(zeb_image_set_metadata_json(set, &json) == ZEB_OK);
    CHECK(strstr(json, lineScan ? "\"scanType\":\"Linescan\"" : "\"scanType\":\"Areascan\"") != NULL);
    zeb_free(json);
    REQUIRE(zeb_image_set_save(set, "hostapi-test-files", &json) == ZEB_OK);
    const char* stack = strstr(json, "stack.png");
    REQUIRE(stack != NULL);
    const char* start = stack;
    while (start > json && start[-1] != '"')
        --start;
    char path[1024];
    snprintf(path, sizeof path, "%.*s", (int)(stack + strlen("stack.png") - start), start);
    zeb_free(json);
    zeb_image_set* back = NULL;
    REQUIRE(zeb_image_set_read(path, &back) == ZEB_OK);
    zeb_image_info backInfo;
    REQUIRE(zeb_image_set_info(back, &backInfo) == ZEB_OK);
    CHECK(backInfo.width == info.width && backInfo.height == info.height && backInfo.line_scan == lineScan);
    CHECK(memcmp(backInfo.pixels, info.pixels, (size_t)info.width * (size_t)info.height) == 0);
    zeb_image_set_free(back);
    Surface(set);
    zeb_image_set_free(set);
}

static void Interrupt(zeb_channel* channel) {
    zeb_stream* stream = NULL;
    zeb_image_set* set = NULL;
    REQUIRE(zeb_stream_start(channel, 0, 20000, 1, 1, &stream) == ZEB_OK);
    REQUIRE(Next(stream, &set) == ZEB_OK);
    zeb_image_set_free(set);
    zeb_stream_interrupt(stream);
    zeb_status status = ZEB_OK;
    while (status == ZEB_OK || status == ZEB_NOT_YET) {
        status = zeb_stream_next(stream, 100, &set);
        if (status == ZEB_OK)
            zeb_image_set_free(set);
    }
    CHECK(status == ZEB_INTERRUPTED);
    CHECK(strstr(zeb_last_error(), "interrupted after") != NULL);
    zeb_stream_close(stream);
}

int main(void) {
    Arguments();
    REQUIRE(zeb_load(NULL, NULL) == ZEB_OK);
    CHECK(zeb_load(NULL, "another-station.json") == ZEB_ERROR);
    char* json = NULL;
    REQUIRE(zeb_channels_json(&json) == ZEB_OK);
    CHECK(strstr(json, "\"Areascan\"") != NULL && strstr(json, "\"Linescan\"") != NULL);
    zeb_free(json);

    zeb_channel* area = NULL;
    REQUIRE(zeb_channel_open(0, "{\"settings\": [[\"Gain\", \"0\"]]}", &area) == ZEB_OK);
    zeb_channel* again = NULL;
    CHECK(zeb_channel_open(0, NULL, &again) == ZEB_ERROR && again == NULL);
    Features(area);
    Acquisition(area, 0);
    Interrupt(area);
    zeb_channel_close(area);

    zeb_channel* line = NULL;
    REQUIRE(zeb_channel_open(1, NULL, &line) == ZEB_OK);
    Acquisition(line, 1);
    /* A stream left running is stopped with its channel; the stream is freed by its owner. */
    zeb_stream* running = NULL;
    REQUIRE(zeb_stream_start(line, 0, 20000, 1, 1, &running) == ZEB_OK);
    zeb_channel_close(line);
    zeb_stream_close(running);

    /* A closed channel opens again. */
    REQUIRE(zeb_channel_open(0, NULL, &area) == ZEB_OK);
    zeb_channel_close(area);
    if (failures == 0)
        printf("zeb_host: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
