// Dialog: the channel's setup assistant. A step machine that guides a person through brightness,
// focus and light-orientation measurements on delivered images and through two wiring checks.
#pragma once

#include "DervoImaging.h"
#include "Export.h"
#include "Tamo/String.h"

#include <vector>

namespace Tamo::Acquisition {
class ImageSource;
}

namespace Tamo::Morvane::Zeb {

class Controller;
class Scanner;

class ZEB_EXPORT Dialog {
public:
    Dialog() = default;
    Dialog(const Dialog&) = default;
    Dialog& operator=(const Dialog&) = default;
    virtual ~Dialog() = default;

    bool Status() const { return _status; }
    bool AcquisitionRequest() const { return _acquisitionRequest; }
    Tamo::String Instruction() const { return _instruction; }
    Tamo::String Result() const { return _result; }
    Tamo::String ResultMessage() const { return _resultMessage; }
    Tamo::String ResultMessageArguments() const { return _resultMessageArguments; }
    std::vector<Tamo::String> GetDialogs() const { return _dialogs; }

    void SetController(Controller* controller);
    void SetImageSource(Tamo::Acquisition::ImageSource* imageSource) { _imageSource = imageSource; }
    void SetScanner(Scanner* scanner) { _scanner = scanner; }

    void Start(const Tamo::String& name);
    void Next();
    void Stop();
    void Update();
    // Image delivery hands over the stacked directions and the averaged image. The orientation
    // assistant, which adjusts the light itself, does not take an image set whose light sequence
    // started before its latest adjustment in this run (it shows the old light) and keeps asking.
    void SetBitmaps(const Dervo::Imaging::Bitmap& directions, const Dervo::Imaging::Bitmap& intensity);
    // The channel started the light sequence of a new image set (acquisition start or re-arm).
    void ImageSetStarted() { _lightAdjustmentsAtImageSetStart = _lightAdjustments; }

protected:
    void ResetResult();
    void UpdateResult(const Tamo::String& result, const Tamo::String& message, const Tamo::String& arguments);
    void CalculateBrightness();
    void CalculateFocus();
    void DetectOrientation();

private:
    void UpdateEncoderCheck();
    void UpdateFrameTriggerCheck();
    // What the steps work with; each throws a clear failure when the assistant was not given it.
    Controller& AssistantController() const;
    Scanner& AssistantChannel() const;
    // A camera feature as an integer; a read the camera fails is the camera's failure.
    int32_t CameraInteger(const char* name) const;

    Controller* _controller = nullptr;
    Tamo::Acquisition::ImageSource* _imageSource = nullptr;
    Scanner* _scanner = nullptr;
    std::vector<Tamo::String> _dialogs;
    Tamo::String _selectedDialog = "";
    int32_t _stepCount = 0;
    int32_t _step = 0;
    bool _status = false;
    Tamo::String _instruction = "";
    bool _acquisitionRequest = false;
    Tamo::String _result = "Undefined";
    Tamo::String _resultMessage = "";
    Tamo::String _resultMessageArguments = "";
    bool _imageAvailable = false;
    Dervo::Imaging::Bitmap _directionImage;
    Dervo::Imaging::Bitmap _intensityImage;
    double _maxFocusValue = 0;
    // Light adjustments made so far in this run, and their number when the image set now under way
    // started.
    int64_t _lightAdjustments = 0;
    int64_t _lightAdjustmentsAtImageSetStart = 0;
};

} // namespace Tamo::Morvane::Zeb
