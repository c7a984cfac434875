// The surface in zeb view: the latest image set's albedo, normals and mean curvature as pictures,
// computed once per image set with the channel's lighting model (the calibration zeb view made on
// the sphere while the channel's orientation and sequence still fit it, else the nominal model),
// and the calibration on the sphere. Its paths are documented in docs/http-api.md.
#pragma once

#include "photometric/SurfaceSolver.h"
#include "session/ChannelLighting.h"
#include "session/Session.h"
#include "view/ChannelWorker.h"
#include "view/http/HttpMessage.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zeb::view {

class SurfaceApi {
public:
    // `calibrations`: the folder of the calibration files it writes (zeb-calibration-channelN.json).
    SurfaceApi(cli::Session& session, std::filesystem::path calibrations, int32_t imageTimeoutMs);
    ~SurfaceApi();

    // GET /api/channels/{i}/surface.png?form=normals|albedo|curvature[&scale=N]
    HttpResponse Picture(ChannelWorker& worker, const HttpRequest& request);
    // POST /api/channels/{i}/calibrate[?sphereRadius=MM]
    HttpResponse Calibrate(ChannelWorker& worker, const HttpRequest& request);
    // The lighting channel `index` is solved with: its calibration file while the channel's settings
    // still fit it (else `note` says why not), or the nominal model. On the channel's own thread.
    cli::ChannelLighting Lighting(host::HostChannel& channel, int32_t index, std::string* note = nullptr);

private:
    struct ChannelSurface;
    ChannelSurface& Of(const ChannelWorker& worker);
    std::filesystem::path CalibrationFile(int32_t channel) const;

    cli::Session& _session;
    std::filesystem::path _calibrations;
    int32_t _imageTimeoutMs;
    std::mutex _mutex; // guards _channels
    std::map<int32_t, std::unique_ptr<ChannelSurface>> _channels;
};

} // namespace zeb::view
