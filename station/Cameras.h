// The cameras' behaviour: an area-scan camera exposes a frame for each trigger that finds it ready
// and reads it out; a line-scan camera fills a frame one row per line trigger between its
// acquisition starts; finished frames are buffered for the acquisition library, with transfer
// errors and lost triggers as configured. The images come from the optics, or from the camera's
// recording: then each frame holds the recorded pixels as they are, without noise, offset, gain,
// exposure or blur, and an area frame the direction of the set that its sequencer step names.
#pragma once

#include "Devices.h"
#include "Scene.h"

#include <memory>
#include <string>

namespace zeb::station {

class CameraSimulation {
public:
    // A pulse from the controller on one of the camera's input lines, with the light of that step.
    void Trigger(SimCamera& camera, const std::string& line, const Lighting& lighting, Nanoseconds now);
    // The rising edge of a line camera's acquisition-start line.
    void StartLineFrame(SimCamera& camera);
    // The moment the camera finishes reading out its pending frame; Never when none is pending.
    static Nanoseconds NextEvent(const SimCamera& camera);
    // Finishes the pending frame when its readout is over.
    void Complete(SimCamera& camera, Nanoseconds now);

    // Session changes made by the acquisition library.
    static void Open(SimCamera& camera, const std::string& mode);
    static void Close(SimCamera& camera);
    static void Start(SimCamera& camera, Nanoseconds now);
    static void Stop(SimCamera& camera);
    static void Release(SimCamera& camera, int64_t index);

    // Whether a stall fault really holds the calling thread (a real clock) or only counts (a manual one).
    void HoldThreadsOnStalls(bool hold) { _holdThreadsOnStalls = hold; }

private:
    bool _holdThreadsOnStalls = true;
    void CompleteAreaFrame(SimCamera& camera, Nanoseconds now);
    void CaptureLine(SimCamera& camera, const Lighting& lighting, Nanoseconds now);
    // A recorded set's direction for the step that triggered an area frame, or one row of a line frame.
    static void PlayDirection(SimCamera& camera, Frame& frame);
    static void PlayRow(SimCamera& camera, Frame& frame);
    // Counts a line camera's row; hands the frame out when it is full.
    void FinishLine(SimCamera& camera, Nanoseconds now);
    static std::unique_ptr<Frame> NewFrame(SimCamera& camera, int32_t width, int32_t height);
    void Deliver(SimCamera& camera, std::unique_ptr<Frame> frame, Nanoseconds now);

    SceneRenderer _renderer;
};

} // namespace zeb::station
