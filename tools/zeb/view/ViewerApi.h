// What zeb view answers: the page's files and the JSON API over the channel workers, routed by one
// table of method, path pattern and handler (Routes()), which the API's documentation lists row for
// row and which also says what a 405 allows.
#pragma once

#include "view/ChannelWorker.h"
#include "view/ClientRegistry.h"
#include "view/RequestPolicy.h"
#include "view/http/HttpMessage.h"
#include "view/http/HttpServer.h"

#include <functional>

#include <string>
#include <vector>

namespace zeb::view {

class SurfaceApi;

class ViewerApi {
public:
    struct Options {
        // Bound to a loopback address: requests must name this machine in their Host header, so that
        // a web page elsewhere cannot reach the server through a name of its own (DNS rebinding).
        bool loopbackOnly = true;
        int32_t longestWaitMs = 5000;   // longest wait a status request may ask for
        SurfaceApi* surfaces = nullptr; // the surface's paths, when served
        // What the HTTP server holds now (GET /api/server), when it is known.
        std::function<HttpServer::Statistics()> server;
    };

    // A request as its route answers it: the channel that "{i}" names, and the "{name}" or "{page}".
    struct Call {
        const HttpRequest& request;
        const std::string& client;
        ChannelWorker* worker = nullptr; // the channel "{i}" names
        std::string name;                // what "{name}" or "{page}" stands for
    };
    struct Route {
        const char* method;
        // "/api/channels/{i}/features/{name}": a "{...}" part stands for any one part of the path;
        // "/*" for every path outside /api (the page's files).
        const char* pattern;
        HttpResponse (ViewerApi::*answer)(const Call& call);
        bool surface = false; // served only with the surface
    };
    // Every route, in the order the API's documentation lists them.
    static const std::vector<Route>& Routes();

    ViewerApi(std::vector<ChannelWorker*> workers, ClientRegistry& clients, Options options);

    HttpResponse Handle(const HttpRequest& request);

private:
    // The handlers: the features and the profile in FeatureRoutes.cpp, the surface's in SurfaceApi,
    // the rest in ViewerApi.cpp.
    HttpResponse Page(const Call& call);
    HttpResponse ChannelList(const Call& call);
    HttpResponse Features(const Call& call);
    HttpResponse ReadFeature(const Call& call);
    HttpResponse WriteFeature(const Call& call);
    HttpResponse Command(const Call& call);
    HttpResponse StartAcquisition(const Call& call);
    HttpResponse StopAcquisition(const Call& call);
    HttpResponse Status(const Call& call);
    HttpResponse Image(const Call& call);
    HttpResponse SurfacePicture(const Call& call);
    HttpResponse Calibrate(const Call& call);
    HttpResponse Save(const Call& call);
    HttpResponse StartRecording(const Call& call);
    HttpResponse StopRecording(const Call& call);
    HttpResponse ReadProfile(const Call& call);
    HttpResponse ApplyProfile(const Call& call);
    HttpResponse Assistant(const Call& call);
    HttpResponse StartAssistant(const Call& call);
    HttpResponse NextAssistant(const Call& call);
    HttpResponse StopAssistant(const Call& call);
    HttpResponse CloseClient(const Call& call);
    HttpResponse ServerStatus(const Call& call);

    HttpResponse Dispatch(const HttpRequest& request, const std::string& client);

    std::vector<ChannelWorker*> _workers;
    ClientRegistry& _clients;
    Options _options;
    RequestPolicy _policy;
};

} // namespace zeb::view
