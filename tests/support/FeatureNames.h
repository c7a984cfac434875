// The channel's 39 feature names in the host's enumeration order.
#pragma once

namespace zeb::test {

inline constexpr const char* FeatureNames[] = {
    "DeviceScanType", "DeviceImageSource", "DeviceImageSourceDetect", "DeviceImageSourceVendor",
    "DeviceImageSourceModel", "DeviceImageSourceSerial", "Width", "Height", "OffsetX", "OffsetY", "ReverseXY",
    "TestPattern", "AcquisitionMode", "AcquisitionBurstMode", "AcquisitionLineRate", "AcquisitionLineRateEnable",
    "AcquisitionLineRateMaximum", "AcquisitionLineRateCurrentMaximum", "TriggerMode", "TriggerActivation",
    "ExposureTime", "Gain", "EncoderResolution", "LightingSequenceType", "LightingOrientation", "SetupMode",
    "DialogSelector", "DialogStatus", "DialogStart", "DialogStop", "DialogNext", "DialogInstruction", "DialogResult",
    "DialogResultMessage", "DialogResultMessageArguments", "DialogAcquisitionRequest", "GevSCPD",
    "GevRequestTimeout", "GevLatencyLevel"};

} // namespace zeb::test
