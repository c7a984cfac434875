// The channel's 39 feature names in the host's enumeration order.
#pragma once

namespace zeb::test {

inline constexpr const char* FeatureNames[] = {
    // The camera and the image.
    "DeviceScanType", "DeviceImageSource", "DeviceImageSourceDetect", "DeviceImageSourceVendor",
    "DeviceImageSourceModel", "DeviceImageSourceSerial", "Width", "Height", "OffsetX", "OffsetY", "ReverseXY",
    "TestPattern",
    // Acquisition, trigger and exposure.
    "AcquisitionMode", "AcquisitionBurstMode", "AcquisitionLineRate", "AcquisitionLineRateEnable",
    "AcquisitionLineRateMaximum", "AcquisitionLineRateCurrentMaximum", "TriggerMode", "TriggerActivation",
    "ExposureTime", "Gain", "EncoderResolution",
    // Lighting and the assistants.
    "LightingSequenceType", "LightingOrientation", "SetupMode", "DialogSelector", "DialogStatus",
    "DialogStart", "DialogStop", "DialogNext", "DialogInstruction", "DialogResult", "DialogResultMessage",
    "DialogResultMessageArguments", "DialogAcquisitionRequest",
    // GigE Vision transport.
    "GevSCPD", "GevRequestTimeout", "GevLatencyLevel"};

} // namespace zeb::test
