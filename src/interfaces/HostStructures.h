// Structures of the host's acquisition interface. Little-endian, fixed widths: the host's `long`
// is a 32-bit integer on every target and the channel handle a 64-bit integer.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef int32_t qrZEB_Long;
typedef int64_t qrZEB_Handle;

struct qrZEB_ImageAttributes;
struct qrZEB_CommonParams;

typedef qrZEB_Long (*qrZEB_SetupCommonParams)(char* errorText, qrZEB_Handle channel,
                                              const qrZEB_CommonParams* p);
typedef qrZEB_Long (*qrZEB_GetImageAttributes)(char* errorText, qrZEB_Handle channel,
                                               qrZEB_ImageAttributes* attributes, qrZEB_Long* status);
typedef qrZEB_Long (*qrZEB_WaitForIntegration)(char* errorText, qrZEB_Handle channel, qrZEB_Long* status);
typedef qrZEB_Long (*qrZEB_GetImage)(char* errorText, qrZEB_Handle channel, char* image, qrZEB_Long* status);
typedef qrZEB_Long (*qrZEB_Command)(char* errorText, qrZEB_Handle channel);
typedef qrZEB_Long (*qrZEB_ExecuteCommand)(char* errorText, qrZEB_Handle channel, const char* feature);
typedef qrZEB_Long (*qrZEB_ReadValue)(char* errorText, qrZEB_Handle channel, const char* feature,
                                      char* value);
typedef qrZEB_Long (*qrZEB_WriteValue)(char* errorText, qrZEB_Handle channel, const char* feature,
                                       const char* value);
typedef qrZEB_Long (*qrZEB_GetFeatureName)(char* errorText, qrZEB_Handle channel, qrZEB_Long index,
                                           char* name);
typedef qrZEB_Long (*qrZEB_GetFeatureType)(char* errorText, qrZEB_Handle channel, const char* feature,
                                           qrZEB_Long* type);
typedef qrZEB_Long (*qrZEB_GetValidEnum)(char* errorText, qrZEB_Handle channel, const char* feature,
                                         qrZEB_Long index, char* value);
typedef qrZEB_Long (*qrZEB_GetFeatureAttr)(char* errorText, qrZEB_Handle channel, const char* feature,
                                           qrZEB_Long attribute, char* value);

// Filled by GetVideoChannel: group 1 (bytes 8 to 639) when size >= 640, group 2 when size >= 688.
struct qrZEB_ChannelDescriptor {
    int32_t size;
    uint8_t padding0[4];
    int64_t handle;
    qrZEB_SetupCommonParams SetupCommonParams;
    qrZEB_GetImageAttributes GetImageAttributes;
    qrZEB_WaitForIntegration WaitForIntegration;
    qrZEB_GetImage GetImage;
    qrZEB_Command StartAcquisition;
    qrZEB_Command StopAcquisition;
    qrZEB_ExecuteCommand ExecuteCommand;
    qrZEB_ReadValue ReadValue;
    qrZEB_WriteValue WriteValue;
    char name[256];
    char serialNumber[256];
    double fixedDouble1;
    int64_t fixedZero1;
    int64_t fixedZero2;
    int32_t fixedInt1;
    int32_t fixedInt2;
    double fixedDouble2;
    qrZEB_GetFeatureName GetFeatureName;
    qrZEB_GetFeatureType GetFeatureType;
    qrZEB_GetValidEnum GetValidEnum;
    qrZEB_GetFeatureAttr GetFeatureAttr;
    qrZEB_Command ReleaseVideoChannel;
    int32_t fixedZero3;
    uint8_t padding1[4];
};

// Attributes of a delivered image. The first field is read only (the host's structure size).
struct qrZEB_ImageAttributes {
    int32_t size;
    int32_t width;
    int32_t height;
    int32_t bytesPerRow;
    int64_t reserved16;
    int32_t reserved24;
    int32_t width2;
    int32_t height2;
    uint8_t reserved36[12];
    int64_t reserved48;
    uint8_t reserved56[8];
};

// The host's common acquisition parameters; the channel only reads the listed fields.
struct qrZEB_CommonParams {
    int32_t size;
    uint8_t reserved4[4];
    double exposureSeconds;
    double gain;
    uint8_t reserved24[8];
    int32_t continuous;
    int32_t triggerMode;
    int32_t risingEdge;
    int32_t offsetX;
    int32_t offsetY;
    int32_t width;
    int32_t height;
    uint8_t reserved60[4];
};

typedef qrZEB_Long (*qrZEB_GetVideoChannel)(char* errorText, qrZEB_Long index,
                                            qrZEB_ChannelDescriptor* descriptor);

} // extern "C"

static_assert(sizeof(void*) == 8, "the host interface is 64-bit");
static_assert(sizeof(qrZEB_ChannelDescriptor) == 688);
static_assert(offsetof(qrZEB_ChannelDescriptor, handle) == 8);
static_assert(offsetof(qrZEB_ChannelDescriptor, SetupCommonParams) == 16);
static_assert(offsetof(qrZEB_ChannelDescriptor, GetImageAttributes) == 24);
static_assert(offsetof(qrZEB_ChannelDescriptor, WaitForIntegration) == 32);
static_assert(offsetof(qrZEB_ChannelDescriptor, GetImage) == 40);
static_assert(offsetof(qrZEB_ChannelDescriptor, StartAcquisition) == 48);
static_assert(offsetof(qrZEB_ChannelDescriptor, StopAcquisition) == 56);
static_assert(offsetof(qrZEB_ChannelDescriptor, ExecuteCommand) == 64);
static_assert(offsetof(qrZEB_ChannelDescriptor, ReadValue) == 72);
static_assert(offsetof(qrZEB_ChannelDescriptor, WriteValue) == 80);
static_assert(offsetof(qrZEB_ChannelDescriptor, name) == 88);
static_assert(offsetof(qrZEB_ChannelDescriptor, serialNumber) == 344);
static_assert(offsetof(qrZEB_ChannelDescriptor, fixedDouble1) == 600);
static_assert(offsetof(qrZEB_ChannelDescriptor, fixedZero1) == 608);
static_assert(offsetof(qrZEB_ChannelDescriptor, fixedZero2) == 616);
static_assert(offsetof(qrZEB_ChannelDescriptor, fixedInt1) == 624);
static_assert(offsetof(qrZEB_ChannelDescriptor, fixedInt2) == 628);
static_assert(offsetof(qrZEB_ChannelDescriptor, fixedDouble2) == 632);
static_assert(offsetof(qrZEB_ChannelDescriptor, GetFeatureName) == 640);
static_assert(offsetof(qrZEB_ChannelDescriptor, GetFeatureType) == 648);
static_assert(offsetof(qrZEB_ChannelDescriptor, GetValidEnum) == 656);
static_assert(offsetof(qrZEB_ChannelDescriptor, GetFeatureAttr) == 664);
static_assert(offsetof(qrZEB_ChannelDescriptor, ReleaseVideoChannel) == 672);
static_assert(offsetof(qrZEB_ChannelDescriptor, fixedZero3) == 680);

static_assert(offsetof(qrZEB_ImageAttributes, width) == 4);
static_assert(offsetof(qrZEB_ImageAttributes, height) == 8);
static_assert(offsetof(qrZEB_ImageAttributes, bytesPerRow) == 12);
static_assert(offsetof(qrZEB_ImageAttributes, reserved16) == 16);
static_assert(offsetof(qrZEB_ImageAttributes, reserved24) == 24);
static_assert(offsetof(qrZEB_ImageAttributes, width2) == 28);
static_assert(offsetof(qrZEB_ImageAttributes, height2) == 32);
static_assert(offsetof(qrZEB_ImageAttributes, reserved48) == 48);

static_assert(offsetof(qrZEB_CommonParams, exposureSeconds) == 8);
static_assert(offsetof(qrZEB_CommonParams, gain) == 16);
static_assert(offsetof(qrZEB_CommonParams, continuous) == 32);
static_assert(offsetof(qrZEB_CommonParams, triggerMode) == 36);
static_assert(offsetof(qrZEB_CommonParams, risingEdge) == 40);
static_assert(offsetof(qrZEB_CommonParams, offsetX) == 44);
static_assert(offsetof(qrZEB_CommonParams, offsetY) == 48);
static_assert(offsetof(qrZEB_CommonParams, width) == 52);
static_assert(offsetof(qrZEB_CommonParams, height) == 56);
